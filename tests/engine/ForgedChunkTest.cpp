// Chunks forged by a node that keeps their CRC-32: with SHA-256s in the
// manifest they are refused and fetched from an honest node; when every node
// serves the forgery the transfer fails and no forged byte is written.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "support/Crc32Forgery.h"
#include "support/EngineWait.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"
#include "support/TestPackage.h"
#include "velmo/engine/TransferEngine.h"
#include "velmo/transfer/Transfer.h"

namespace velmo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::TestHttpServer;
using test::TestPackage;

using test::ReadFile;

class ForgedChunkTest : public ::testing::Test {
 protected:
  static constexpr std::uint32_t kChunk = 3000;
  static constexpr std::size_t kForgedChunk = 2;  // of bin/program

  ForgedChunkTest() {
    package_.run = "bin/program";
    package_.chunkSize = kChunk;
    package_.strongHashes = true;
    package_.AddFile("bin/program", 10000, 1);
    package_.AddFile("data/one.bin", 9000, 2);
    for (auto& node : nodes_) node = std::make_unique<TestHttpServer>();
    // The program with one chunk's first 16 bytes replaced, its CRC-32 kept.
    const std::string& program = package_.files.at("bin/program");
    const std::string chunk = program.substr(kForgedChunk * kChunk, kChunk);
    forgedChunk_ = test::ForgeKeepingCrc32(chunk);
    forgedProgram_ = program;
    forgedProgram_.replace(kForgedChunk * kChunk, kChunk, forgedChunk_);
  }

  std::unique_ptr<TransferEngine> MakeEngine() {
    EngineSettings settings(2);
    settings.manifestHost = manifests_.Host();
    settings.manifestConnectTimeout = 2;
    settings.manifestTimeout = 10;
    settings.logsFolder = "velmo-test/logs";
    settings.transfersFolder = "velmo-test/transfers";
    return std::make_unique<TransferEngine>(
        settings, AnalyticsEndpoints{analytics_.Url("/events"), analytics_.Url("/transfers")});
  }

  void Serve(std::size_t forgingNodes) {
    std::vector<TestHttpServer*> nodes;
    for (auto& node : nodes_) nodes.push_back(node.get());
    package_.Serve(manifests_, nodes);
    for (std::size_t i = 0; i < forgingNodes; ++i) {
      nodes_[i]->SetBody(package_.NodePath("bin/program"), forgedProgram_);
    }
  }

  // Runs the transfer into dest until it ends or reports an error (bounded).
  TransferStatus Download(const std::string& dest) {
    auto engine = MakeEngine();
    const TransferStatus created =
        engine->CreateTransfer(package_.partnerId, package_.packageId, "?");
    TransferStatus status = WaitFor(*engine, created.transferId, [](const TransferStatus& s) {
      return s.state == TransferState::Initialized || IsFinal(s);
    });
    if (status.state != TransferState::Initialized) return status;
    fs::create_directories(dest);
    engine->StartTransfer(created.transferId, dest);
    return WaitFor(*engine, created.transferId, [](const TransferStatus& s) {
      return IsFinal(s) || s.error != TransferError::None;
    });
  }

  template <typename Predicate>
  TransferStatus WaitFor(TransferEngine& engine, const std::string& id, Predicate done) {
    const TransferStatus status = test::PollStatus(engine, id, done);
    EXPECT_TRUE(done(status)) << "state " << static_cast<int>(status.state);
    return status;
  }

  std::uint64_t ForgedServed(std::size_t node) {
    return nodes_[node]->BytesServed(package_.NodePath("bin/program"));
  }

  test::TempDir temp_;
  TestPackage package_;
  TestHttpServer manifests_;
  TestHttpServer analytics_;
  std::unique_ptr<TestHttpServer> nodes_[3];
  std::string forgedChunk_;
  std::string forgedProgram_;
};

TEST_F(ForgedChunkTest, AForgeryKeepingItsCrc32IsRefusedAndFetchedFromAnHonestNode) {
  Serve(2);  // nodes 1 and 2 forge, node 3 is honest
  const std::string dest = temp_ / "dest";
  const TransferStatus status = Download(dest);
  EXPECT_EQ(status.state, TransferState::Completed) << ToString(status.error);
  for (const auto& [path, contents] : package_.files) {
    EXPECT_TRUE(ReadFile(dest + "/" + path) == contents) << path << " differs";
  }
}

TEST_F(ForgedChunkTest, ForgeryOnEveryNodeFailsWithoutWritingIt) {
  Serve(3);
  const std::string dest = temp_ / "dest";
  const TransferStatus status = Download(dest);
  EXPECT_NE(status.state, TransferState::Completed);
  EXPECT_EQ(status.error, TransferError::ChecksumMismatch);
  EXPECT_GT(ForgedServed(0) + ForgedServed(1) + ForgedServed(2), 0u);
  const std::string program = ReadFile(dest + "/bin/program");
  EXPECT_EQ(program.find(forgedChunk_.substr(0, 20)), std::string::npos)
      << "forged bytes reached the file";
}

TEST_F(ForgedChunkTest, WithoutStrongHashesTheSameForgeryWouldPass) {
  // What the SHA-256s are for: a CRC-32-only manifest accepts the forgery.
  package_.strongHashes = false;
  Serve(3);
  const std::string dest = temp_ / "dest";
  const TransferStatus status = Download(dest);
  EXPECT_EQ(status.state, TransferState::Completed);
  EXPECT_TRUE(ReadFile(dest + "/bin/program") == forgedProgram_);
}

}  // namespace
}  // namespace velmo
