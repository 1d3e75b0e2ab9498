// Trusted downloads through the whole engine: with publisher keys configured,
// a transfer starts only from documents signed by one of them, unexpired and
// pinning every chunk by SHA-256; anything else fails as a manifest error
// before a single chunk is requested.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>

#include "support/EngineWait.h"
#include "support/SignedTree.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"
#include "support/TestPackage.h"
#include "velmo/engine/TransferEngine.h"
#include "velmo/transfer/Transfer.h"

namespace velmo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::SignedTree;
using test::TestHttpServer;
using test::TestPackage;

using test::ReadFile;

class SignedTransferTest : public ::testing::Test {
 protected:
  SignedTransferTest() {
    package_.run = "bin/program";
    package_.chunkSize = 3000;
    package_.AddFile("bin/program", 10000, 1);
    package_.AddFile("data/one.bin", 25000, 2);
    package_.AddFile("data/empty.txt", 0, 3);
    for (auto& node : nodes_) node = std::make_unique<TestHttpServer>();
  }

  std::vector<TestHttpServer*> Nodes() {
    std::vector<TestHttpServer*> nodes;
    for (auto& node : nodes_) nodes.push_back(node.get());
    return nodes;
  }

  std::vector<std::string> NodeHosts() {
    std::vector<std::string> hosts;
    for (auto& node : nodes_) hosts.push_back(node->Host());
    return hosts;
  }

  std::unique_ptr<TransferEngine> MakeEngine(const TestHttpServer& host,
                                             std::vector<std::string> keys) {
    EngineSettings settings(2);
    settings.manifestHost = host.Host();
    settings.manifestConnectTimeout = 2;
    settings.manifestTimeout = 10;
    settings.manifestRetryCount = 1;
    settings.logsFolder = "velmo-test/logs";
    settings.transfersFolder = "velmo-test/transfers";
    settings.trustedKeys = std::move(keys);
    return std::make_unique<TransferEngine>(settings, AnalyticsEndpoints{});
  }

  template <typename Predicate>
  TransferStatus WaitFor(TransferEngine& engine, const std::string& id, Predicate done) {
    const TransferStatus status = test::PollStatus(engine, id, done);
    EXPECT_TRUE(done(status)) << "state " << static_cast<int>(status.state);
    return status;
  }

  static bool Ready(const TransferStatus& s) {
    return s.state == TransferState::Initialized || IsFinal(s);
  }

  TransferStatus Download(TransferEngine& engine, const std::string& dest) {
    const TransferStatus created =
        engine.CreateTransfer(package_.partnerId, package_.packageId, "?");
    TransferStatus status = WaitFor(engine, created.transferId, Ready);
    if (status.state != TransferState::Initialized) return status;
    fs::create_directories(dest);
    engine.StartTransfer(created.transferId, dest);
    return WaitFor(engine, created.transferId, [](const TransferStatus& s) { return IsFinal(s); });
  }

  std::uint64_t ServedBytes() {
    std::uint64_t total = 0;
    for (auto& node : nodes_) total += package_.BytesServedBy(*node);
    return total;
  }

  void ExpectFilesMatch(const std::string& dest) {
    for (const auto& [path, contents] : package_.files) {
      EXPECT_TRUE(ReadFile(dest + "/" + path) == contents) << path << " differs";
    }
  }

  std::string ManifestPath() const { return "/manifests/" + package_.packageId + "/current.xml"; }
  std::string NodeListPath() const { return "/nodes/" + package_.partnerId + ".xml"; }

  test::TempDir temp_;
  TestPackage package_;
  SignedTree tree_ = SignedTree::Generate();
  std::unique_ptr<TestHttpServer> nodes_[2];
};

TEST_F(SignedTransferTest, ASignedPackageDownloadsUnderEitherOfTwoKeys) {
  // The publisher rotates: the program trusts the old key and the new one,
  // and the tree is signed with the new one.
  const SignedTree old = SignedTree::Generate();
  TestHttpServer host;
  tree_.Serve(package_, host, Nodes());
  auto engine = MakeEngine(host, {old.publicKey, tree_.publicKey});
  const TransferStatus status = Download(*engine, temp_ / "dest");
  EXPECT_EQ(status.state, TransferState::Completed) << ToString(status.error);
  ExpectFilesMatch(temp_ / "dest");
  EXPECT_EQ(host.RequestCount(ManifestPath() + ".sig"), 1);
  EXPECT_EQ(host.RequestCount(NodeListPath() + ".sig"), 1);
}

TEST_F(SignedTransferTest, WithoutKeysUnsignedTreesKeepWorkingAndNoSignatureIsAsked) {
  TestHttpServer host;
  package_.Serve(host, Nodes());
  auto engine = MakeEngine(host, {});
  const TransferStatus status = Download(*engine, temp_ / "dest");
  EXPECT_EQ(status.state, TransferState::Completed) << ToString(status.error);
  ExpectFilesMatch(temp_ / "dest");
  EXPECT_EQ(host.RequestCount(ManifestPath() + ".sig"), 0);
}

TEST_F(SignedTransferTest, EveryUntrustworthyTreeFailsBeforeAnyChunkIsFetched) {
  struct Case {
    const char* name;
    std::function<void(TestHttpServer&)> serve;
  };
  const SignedTree stranger = SignedTree::Generate();
  SignedTree expired = tree_;
  expired.expires = "2001-01-01T00:00:00Z";
  const auto serveDocuments = [&](TestHttpServer& host, const std::string& manifest,
                                  std::optional<std::string> manifestSignature,
                                  const std::string& nodeList,
                                  std::optional<std::string> nodeListSignature) {
    package_.Serve(host, Nodes());
    host.SetBody(ManifestPath(), manifest);
    if (manifestSignature) host.SetBody(ManifestPath() + ".sig", *manifestSignature);
    host.SetBody(NodeListPath(), nodeList);
    if (nodeListSignature) host.SetBody(NodeListPath() + ".sig", *nodeListSignature);
  };
  const std::string manifest = tree_.ManifestXml(package_);
  const std::string nodeList = tree_.NodeListXml(NodeHosts());
  const Case cases[] = {
      {"a tampered manifest byte",
       [&](TestHttpServer& host) {
         std::string tampered = manifest;
         tampered[tampered.find("<name>") + 6] ^= 1;
         serveDocuments(host, tampered, tree_.Signature(manifest), nodeList,
                        tree_.Signature(nodeList));
       }},
      {"a tampered node list",
       [&](TestHttpServer& host) {
         const std::string other = tree_.NodeListXml({NodeHosts()[0]});
         serveDocuments(host, manifest, tree_.Signature(manifest), other,
                        tree_.Signature(nodeList));
       }},
      {"a wrong key", [&](TestHttpServer& host) { stranger.Serve(package_, host, Nodes()); }},
      {"a missing manifest signature",
       [&](TestHttpServer& host) {
         serveDocuments(host, manifest, std::nullopt, nodeList, tree_.Signature(nodeList));
       }},
      {"a missing node-list signature",
       [&](TestHttpServer& host) {
         serveDocuments(host, manifest, tree_.Signature(manifest), nodeList, std::nullopt);
       }},
      {"a malformed signature",
       [&](TestHttpServer& host) {
         serveDocuments(host, manifest, "c2lnbmF0dXJl\n", nodeList, tree_.Signature(nodeList));
       }},
      {"an expired manifest",
       [&](TestHttpServer& host) { expired.Serve(package_, host, Nodes()); }},
      {"a signed manifest without SHA-256",
       [&](TestHttpServer& host) {
         const std::string weak =
             test::WithExpiry(package_.ManifestXml(), "package", tree_.expires);
         serveDocuments(host, weak, tree_.Signature(weak), nodeList, tree_.Signature(nodeList));
       }},
      {"an unsigned tree", [&](TestHttpServer& host) { package_.Serve(host, Nodes()); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestHttpServer host;
    c.serve(host);
    const std::uint64_t servedBefore = ServedBytes();
    auto engine = MakeEngine(host, {tree_.publicKey});
    const TransferStatus created =
        engine->CreateTransfer(package_.partnerId, package_.packageId, "?");
    const TransferStatus status = WaitFor(*engine, created.transferId, Ready);
    EXPECT_NE(status.state, TransferState::Initialized);
    EXPECT_EQ(status.error, TransferError::ManifestError);
    EXPECT_EQ(ServedBytes(), servedBefore);
  }
}

TEST_F(SignedTransferTest, ARestoredTransferVerifiesItsManifestAgain) {
  TestHttpServer host;
  package_.AddFile("data/big.bin", 300000, 5);
  tree_.Serve(package_, host, Nodes());
  for (auto& node : nodes_) node->SetThrottle(package_.NodePath("data/big.bin"), 40000);
  const std::string dest = temp_ / "dest";
  std::string id;
  {
    auto engine = MakeEngine(host, {tree_.publicKey});
    id = engine->CreateTransfer(package_.partnerId, package_.packageId, "?").transferId;
    WaitFor(*engine, id,
            [](const TransferStatus& s) { return s.state == TransferState::Initialized; });
    fs::create_directories(dest);
    engine->StartTransfer(id, dest);
    WaitFor(*engine, id, [](const TransferStatus& s) { return s.completedBytes > 0; });
    // Destroying the engine suspends the transfer and keeps it stored.
  }
  // Between the runs the manifest host starts serving a forged manifest under
  // the old signature: the restored transfer must not take it.
  std::string forged = tree_.ManifestXml(package_);
  forged[forged.find("<name>") + 6] ^= 1;
  // The restored transfer asks for the version it started with.
  const std::string versioned =
      "/manifests/" + package_.packageId + "/" + package_.versionId + ".xml";
  host.SetBody(versioned, forged);
  auto engine = MakeEngine(host, {tree_.publicKey});
  auto transfer = engine->GetTransferManager().Find(id, engine->GetBehavior());
  ASSERT_NE(transfer, nullptr);
  transfer->Restore();
  const TransferStatus status = WaitFor(*engine, id, Ready);
  EXPECT_NE(status.state, TransferState::Initialized);
  EXPECT_EQ(status.error, TransferError::ManifestError);
  EXPECT_EQ(host.RequestCount(versioned + ".sig"), 1);
}

}  // namespace
}  // namespace velmo
