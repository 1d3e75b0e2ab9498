// The whole engine against in-process servers: a manifest host and several
// download nodes, with faults injected per node.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <thread>

#include "support/EngineWait.h"
#include "support/FailingSharedFileFactory.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"
#include "support/TestPackage.h"
#include "velmo/engine/TransferEngine.h"
#include "velmo/platform/System.h"
#include "velmo/transfer/Transfer.h"

namespace velmo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::TestHttpServer;
using test::TestPackage;

using test::ReadFile;

class TransferEngineTest : public ::testing::Test {
 protected:
  TransferEngineTest() {
    package_.run = "bin/program";
    package_.chunkSize = 3000;  // divides none of the sizes below
    package_.AddFile("bin/program", 10000, 1);
    package_.AddFile("data/one.bin", 25000, 2);
    package_.AddFile("data/empty.txt", 0, 3);
    package_.AddFile("readme.txt", 7001, 4);
    for (auto& node : nodes_) node = std::make_unique<TestHttpServer>();
  }

  EngineSettings Settings() const {
    EngineSettings settings(2);
    settings.manifestHost = manifests_.Host();
    settings.manifestConnectTimeout = 2;
    settings.manifestTimeout = 10;
    settings.logsFolder = "velmo-test/logs";
    settings.transfersFolder = "velmo-test/transfers";
    return settings;
  }

  std::vector<TestHttpServer*> Nodes() {
    std::vector<TestHttpServer*> nodes;
    for (auto& node : nodes_) nodes.push_back(node.get());
    return nodes;
  }

  std::unique_ptr<TransferEngine> MakeEngine() {
    return std::make_unique<TransferEngine>(
        Settings(), AnalyticsEndpoints{analytics_.Url("/events"), analytics_.Url("/transfers")});
  }

  // Polls until `done` holds for the status, or fails after a bound.
  template <typename Predicate>
  TransferStatus WaitFor(TransferEngine& engine, const std::string& id, Predicate done,
                         std::chrono::seconds bound = 60s) {
    const TransferStatus status = test::PollStatus(engine, id, done, bound);
    EXPECT_TRUE(done(status)) << "state " << static_cast<int>(status.state) << " error "
                              << ToString(status.error) << "\n"
                              << ErrorLines();
    return status;
  }

  // Creates the transfer, starts it into dest when ready, waits for the end.
  TransferStatus Download(TransferEngine& engine, const std::string& dest,
                          std::string* id = nullptr) {
    const TransferStatus created =
        engine.CreateTransfer(package_.partnerId, package_.packageId, "?");
    if (id != nullptr) *id = created.transferId;
    TransferStatus status = WaitFor(engine, created.transferId, [](const TransferStatus& s) {
      return s.state == TransferState::Initialized || IsFinal(s);
    });
    if (status.state != TransferState::Initialized) return status;
    fs::create_directories(dest);  // the engine writes into an existing folder only
    EXPECT_EQ(engine.StartTransfer(created.transferId, dest).state, TransferState::Transferring);
    return WaitFor(engine, created.transferId, [](const TransferStatus& s) { return IsFinal(s); });
  }

  // The work log's lines about failures, to explain a failed wait.
  std::string ErrorLines() {
    std::string lines;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(temp_ / "velmo-test/logs", error)) {
      std::istringstream in(ReadFile(entry.path().string()));
      for (std::string line; std::getline(in, line);) {
        if (line.find("rror") != std::string::npos && lines.size() < 4000) lines += line + "\n";
      }
    }
    return lines;
  }

  // Every work-log file, one after the other.
  std::string LogText() {
    std::string log;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(temp_ / "velmo-test/logs", error)) {
      log += ReadFile(entry.path().string());
    }
    return log;
  }

  void ExpectFilesMatch(const std::string& dest) {
    for (const auto& [path, contents] : package_.files) {
      EXPECT_TRUE(ReadFile(dest + "/" + path) == contents) << path << " differs";
    }
  }

  std::uint64_t ServedBytes() {
    std::uint64_t total = 0;
    for (auto& node : nodes_) total += package_.BytesServedBy(*node);
    return total;
  }

  test::TempDir temp_;
  TestPackage package_;
  TestHttpServer manifests_;
  TestHttpServer analytics_;
  std::unique_ptr<TestHttpServer> nodes_[3];
};

TEST_F(TransferEngineTest, DownloadsAPackageFromSeveralNodes) {
  package_.Serve(manifests_, Nodes());
  const std::string dest = temp_ / "dest";
  std::string id;
  {
    auto engine = MakeEngine();
    const TransferStatus status = Download(*engine, dest, &id);
    EXPECT_EQ(status.state, TransferState::Completed);
    EXPECT_EQ(status.error, TransferError::None);
    EXPECT_EQ(status.totalBytes, package_.TotalSize());
    EXPECT_EQ(status.completedBytes, package_.TotalSize());
    EXPECT_EQ(status.runPath, "bin/program");
    EXPECT_EQ(status.versionId, "1.0");
    EXPECT_EQ(id.size(), 32u);
  }
  ExpectFilesMatch(dest);
  EXPECT_TRUE(fs::exists(dest + "/data/empty.txt"));
  EXPECT_NE(fs::status(dest + "/bin/program").permissions() & fs::perms::owner_exec,
            fs::perms::none);
  int nodesUsed = 0;
  for (auto& node : nodes_) nodesUsed += package_.BytesServedBy(*node) > 0 ? 1 : 0;
  EXPECT_GE(nodesUsed, 2) << "requests are spread over the nodes";

  // Telemetry: the analytics collector heard about the transfer, the work log
  // holds its steps, and the stored manifest stays for a completed transfer.
  bool sawComplete = false;
  for (const auto& request : analytics_.Requests()) {
    EXPECT_EQ(request.contentType, "application/json");
    if (request.body.find("numCompletes") != std::string::npos) sawComplete = true;
  }
  EXPECT_TRUE(sawComplete);
  std::string log;
  for (const auto& entry : fs::directory_iterator(temp_ / "velmo-test/logs")) {
    log += ReadFile(entry.path().string());
  }
  EXPECT_NE(log.find("\"Complete\""), std::string::npos) << log.substr(0, 2000);
  EXPECT_TRUE(fs::exists(temp_ / ("velmo-test/transfers/" + id + ".json")));
}

TEST_F(TransferEngineTest, ATransferThatCannotBeStoredSaysWhyAndStillCompletes) {
  package_.Serve(manifests_, Nodes());
  LayerDecorators decorators;
  decorators.files = [](SharedFileFactory& real) -> std::shared_ptr<SharedFileFactory> {
    // The first operation on a stored document's files: the new document.
    return std::make_shared<test::FailingSharedFileFactory>(
        real, 1, [](const std::string&, const std::string& relative) {
          return relative.find("velmo-test/transfers/") == 0 &&
                 relative.find(".json") != std::string::npos;
        });
  };
  const std::string dest = temp_ / "dest";
  std::string id;
  {
    TransferEngine engine(
        Settings(), AnalyticsEndpoints{analytics_.Url("/events"), analytics_.Url("/transfers")},
        decorators);
    const TransferStatus status = Download(engine, dest, &id);
    EXPECT_EQ(status.state, TransferState::Completed);
    EXPECT_NE(status.storeError.find("cannot create the document of " + id), std::string::npos)
        << status.storeError;
  }
  ExpectFilesMatch(dest);
  EXPECT_FALSE(fs::exists(temp_ / ("velmo-test/transfers/" + id + ".json")));
  bool counted = false;
  for (const auto& request : analytics_.Requests()) {
    counted = counted || request.body.find("numStoreFailures") != std::string::npos;
  }
  EXPECT_TRUE(counted);
  const std::string log = LogText();
  EXPECT_NE(log.find("\"StoreFailed\""), std::string::npos) << log.substr(0, 2000);
  EXPECT_NE(log.find("cannot create the document of " + id), std::string::npos);
}

TEST_F(TransferEngineTest, AProgramFileMayNotBeRunWhileItIsIncomplete) {
  // An empty program file left behind executable (an earlier run cut short):
  // it is taken over, and must not be started half-written.
  package_.Serve(manifests_, Nodes());
  for (auto& node : nodes_) node->SetThrottle(package_.NodePath("bin/program"), 1000);
  const std::string dest = temp_ / "dest";
  fs::create_directories(dest + "/bin");
  std::ofstream(dest + "/bin/program").close();
  fs::permissions(dest + "/bin/program", fs::perms::owner_all | fs::perms::group_read |
                                             fs::perms::group_exec | fs::perms::others_read |
                                             fs::perms::others_exec);
  const auto exec = fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
  auto engine = MakeEngine();
  const std::string id =
      engine->CreateTransfer(package_.partnerId, package_.packageId, "?").transferId;
  WaitFor(*engine, id,
          [](const TransferStatus& s) { return s.state == TransferState::Initialized; });
  engine->StartTransfer(id, dest);
  // Allocated to its full size, its chunks still dripping in (3 s each).
  WaitFor(*engine, id, [&](const TransferStatus&) {
    std::error_code error;
    return fs::file_size(dest + "/bin/program", error) == 10000;
  });
  ASSERT_FALSE(IsFinal(engine->GetTransferStatus(id)));
  EXPECT_EQ(fs::status(dest + "/bin/program").permissions() & exec, fs::perms::none);
  const TransferStatus status =
      WaitFor(*engine, id, [](const TransferStatus& s) { return IsFinal(s); });
  EXPECT_EQ(status.state, TransferState::Completed);
  EXPECT_EQ(fs::status(dest + "/bin/program").permissions() & exec, exec)
      << "executable once complete, for everyone who may read it";
}

TEST_F(TransferEngineTest, NoTransferIsMadeWhileItsFoldersAreNotTheUsersAlone) {
  package_.Serve(manifests_, Nodes());
  for (const char* folder : {"velmo-test/transfers", "velmo-test/logs"}) {
    fs::create_directories(temp_ / folder);
    fs::permissions(temp_ / folder, fs::perms::all);  // as another user would leave it
    auto engine = MakeEngine();
    const TransferStatus status =
        engine->CreateTransfer(package_.partnerId, package_.packageId, "?");
    EXPECT_EQ(status.state, TransferState::Invalid) << folder;
    EXPECT_EQ(status.error, TransferError::FileAccessError) << folder;
    EXPECT_TRUE(manifests_.Requests().empty()) << "nothing is fetched";
    fs::permissions(temp_ / folder, fs::perms::owner_all);
  }
  // A stored transfer is not read from such a folder either.
  std::string id;
  {
    auto engine = MakeEngine();
    ASSERT_EQ(Download(*engine, temp_ / "dest", &id).state, TransferState::Completed);
  }
  fs::permissions(temp_ / "velmo-test/transfers", fs::perms::all);
  {
    auto engine = MakeEngine();
    EXPECT_EQ(engine->GetTransferManager().Find(id, engine->GetBehavior()), nullptr);
  }
  fs::permissions(temp_ / "velmo-test/transfers", fs::perms::owner_all);
  auto engine = MakeEngine();
  EXPECT_NE(engine->GetTransferManager().Find(id, engine->GetBehavior()), nullptr);
}

TEST_F(TransferEngineTest, BadNodesAreWorkedAround) {
  // Node 1 corrupts a byte of every file it serves; node 3 is gone.
  for (const auto& [path, contents] : package_.files) {
    if (!contents.empty()) nodes_[0]->SetCorrupt(package_.NodePath(path), contents.size() / 2);
  }
  package_.Serve(manifests_, Nodes());
  nodes_[2].reset();
  manifests_.SetBody("/nodes/" + package_.partnerId + ".xml",
                     test::NodeListXml({nodes_[0]->Host(), nodes_[1]->Host(), "127.0.0.1:1"}));

  const std::string dest = temp_ / "dest";
  auto engine = MakeEngine();
  const TransferStatus status = Download(*engine, dest);
  EXPECT_EQ(status.state, TransferState::Completed) << ToString(status.error);
  ExpectFilesMatch(dest);
}

TEST_F(TransferEngineTest, NodesWithUnusableAddressesAreDroppedAndLogged) {
  // Two nodes whose Host no request could be made for; drawn, either used to
  // end the whole transfer.
  package_.Serve(manifests_, Nodes());
  manifests_.SetBody(
      "/nodes/" + package_.partnerId + ".xml",
      test::NodeListXml({"127.0.0.1:notaport", nodes_[0]->Host(), "h:99999", nodes_[1]->Host()}));
  const std::string dest = temp_ / "dest";
  {
    auto engine = MakeEngine();
    const TransferStatus status = Download(*engine, dest);
    EXPECT_EQ(status.state, TransferState::Completed) << ToString(status.error);
    EXPECT_EQ(status.error, TransferError::None);
  }
  ExpectFilesMatch(dest);
  const std::string log = LogText();
  for (const char* host : {"127.0.0.1:notaport", "h:99999"}) {
    EXPECT_NE(log.find(std::string("\"host\":\"") + host + "\""), std::string::npos) << host;
  }
  EXPECT_NE(log.find("\"NodeDropped\""), std::string::npos) << log.substr(0, 2000);
}

TEST_F(TransferEngineTest, ManifestFetchesAreRetriedWhileTheHostIsBusy) {
  package_.Serve(manifests_, Nodes());
  const std::string manifest = "/manifests/" + package_.packageId + "/current.xml";
  const std::string nodeList = "/nodes/" + package_.partnerId + ".xml";
  manifests_.SetStatuses(manifest, {503, 503, 503});
  manifests_.SetStatuses(nodeList, {503, 503, 503});
  auto engine = MakeEngine();
  const TransferStatus status = Download(*engine, temp_ / "dest");
  EXPECT_EQ(status.state, TransferState::Completed) << ToString(status.error);
  int manifestRequests = 0;
  int nodeListRequests = 0;
  for (const auto& request : manifests_.Requests()) {
    manifestRequests += request.path == manifest ? 1 : 0;
    nodeListRequests += request.path == nodeList ? 1 : 0;
  }
  EXPECT_EQ(manifestRequests, 4);
  EXPECT_EQ(nodeListRequests, 4);
  RecordProperty("bytesServed", std::to_string(ServedBytes()));

  // Past the retry budget the transfer ends with a connection error that can
  // be retried, not a manifest error.
  manifests_.SetStatuses(manifest, std::vector<int>(20, 503));
  const TransferStatus created =
      engine->CreateTransfer(package_.partnerId, package_.packageId, "?");
  const TransferStatus failed = WaitFor(*engine, created.transferId, [](const TransferStatus& s) {
    return s.error != TransferError::None || s.state == TransferState::Initialized;
  });
  EXPECT_EQ(failed.error, TransferError::ConnectionError);
  EXPECT_TRUE(failed.retryable);
}

// Busy hosts are given time: the manifest host answering 503 is asked again
// after a growing wait, and a lone node answering 429 with Retry-After: 1
// only once that second has passed. Retries in quick succession would use up
// their budget inside the busy time and fail the transfer.
TEST_F(TransferEngineTest, BusyHostsAreAskedAgainOnlyOnceTheyHadTime) {
  package_.Serve(manifests_, {nodes_[0].get()});
  manifests_.SetBusy(503, "", 300ms);
  nodes_[0]->SetBusy(429, "1", 1s);
  auto engine = MakeEngine();
  const TransferStatus status = Download(*engine, temp_ / "dest");
  EXPECT_EQ(status.state, TransferState::Completed) << ToString(status.error);
  ExpectFilesMatch(temp_ / "dest");
  // Each fetch waits at least half the backoff base, then the base: at most
  // two of its requests fall within the busy time.
  EXPECT_GE(manifests_.BusyAnswers(), 2);
  EXPECT_LE(manifests_.BusyAnswers(), 4);
  // The requests in flight when the node first said 429, and none after.
  EXPECT_LE(nodes_[0]->BusyAnswers(), static_cast<int>(Settings().workflowConcurrency));
}

TEST_F(TransferEngineTest, UnusableStoredTransfersAreSetAsideAndTheirFilesReused) {
  package_.AddFile("data/big.bin", 300000, 5);
  package_.Serve(manifests_, Nodes());
  for (auto& node : nodes_) {
    for (const auto& [path, contents] : package_.files) {
      node->SetThrottle(package_.NodePath(path), 40000);
    }
  }
  const std::string dest = temp_ / "dest";
  std::string id;
  {
    auto engine = MakeEngine();
    id = engine->CreateTransfer(package_.partnerId, package_.packageId, "?").transferId;
    WaitFor(*engine, id,
            [](const TransferStatus& s) { return s.state == TransferState::Initialized; });
    fs::create_directories(dest);
    engine->StartTransfer(id, dest);
    WaitFor(*engine, id,
            [&](const TransferStatus& s) { return s.completedBytes > package_.TotalSize() / 4; });
  }
  const std::uint64_t servedBefore = ServedBytes();
  for (auto& node : nodes_) {
    for (const auto& [path, contents] : package_.files) {
      node->SetThrottle(package_.NodePath(path), 0);
    }
  }
  // The stored document is cut short, as a crash of an older version while
  // saving left it; a second one is whole but names another transfer; a
  // third nests deeper than the reader could follow.
  const fs::path transfers = temp_ / "velmo-test/transfers";
  const std::string stored = ReadFile((transfers / (id + ".json")).string());
  ASSERT_FALSE(stored.empty());
  std::ofstream(transfers / (id + ".json"), std::ios::trunc) << stored.substr(0, stored.size() / 2);
  const std::string otherId(32, 'a');
  std::ofstream(transfers / (otherId + ".json")) << stored;
  const std::string deepId(32, 'b');
  std::ofstream(transfers / (deepId + ".json")) << std::string(200000, '[');

  {
    auto engine = MakeEngine();
    for (const std::string& unusable : {id, otherId, deepId}) {
      SCOPED_TRACE(unusable);
      EXPECT_EQ(engine->GetTransferManager().Find(unusable, engine->GetBehavior()), nullptr);
      EXPECT_EQ(engine->GetTransferStatus(unusable).state, TransferState::Invalid);
      EXPECT_FALSE(fs::exists(transfers / (unusable + ".json")));
      int aside = 0;
      for (const auto& entry : fs::directory_iterator(transfers)) {
        const std::string name = entry.path().filename().string();
        aside +=
            name.rfind(unusable + ".json.", 0) == 0 && name.find(".broken") != std::string::npos;
      }
      EXPECT_EQ(aside, 1);
    }
    // A new transfer into the same folder keeps every whole chunk on disk.
    const TransferStatus status = Download(*engine, dest);
    EXPECT_EQ(status.state, TransferState::Completed) << ToString(status.error);
  }
  ExpectFilesMatch(dest);
  const std::uint64_t servedAfter = ServedBytes() - servedBefore;
  EXPECT_LT(servedAfter, package_.TotalSize() - package_.TotalSize() / 4 + 10 * 3000);
  const std::string log = LogText();
  EXPECT_NE(log.find("\"StoredTransferSetAside\""), std::string::npos) << log.substr(0, 2000);
  EXPECT_NE(log.find("names transfer " + id), std::string::npos);
}

TEST_F(TransferEngineTest, NodesSendingMoreThanTheRangeNeverWriteOutsideTheChunk) {
  // Node 1 answers every range with the whole file (a server without range
  // support); node 2 sends bytes beyond the range. Either would overwrite the
  // neighbouring chunks if the writer trusted the server.
  for (const auto& [path, contents] : package_.files) {
    if (contents.empty()) continue;
    nodes_[0]->SetIgnoreRange(package_.NodePath(path));
    nodes_[1]->SetExtraBytes(package_.NodePath(path), 4096);
  }
  package_.Serve(manifests_, Nodes());

  const std::string dest = temp_ / "dest";
  auto engine = MakeEngine();
  const TransferStatus status = Download(*engine, dest);
  EXPECT_EQ(status.state, TransferState::Completed) << ToString(status.error);
  ExpectFilesMatch(dest);
  const std::uint64_t fromBadNodes =
      package_.BytesServedBy(*nodes_[0]) + package_.BytesServedBy(*nodes_[1]);
  EXPECT_GT(fromBadNodes, 0u) << "the misbehaving nodes were never asked";
}

TEST_F(TransferEngineTest, ANodeThatStallsAfterItsHeadersDoesNotHoldTheEnd) {
  // Node 1, weighted far above node 2, serves everything well but the last
  // file: of that it sends headers, then next to nothing. The time limits are
  // far too long to end such a request within the wait below: only a second
  // request of each stalled chunk, from node 2, lets the download end.
  const std::string last = package_.NodePath("readme.txt");
  nodes_[0]->SetThrottle(last, 1);
  package_.Serve(manifests_, {nodes_[0].get(), nodes_[1].get()});
  std::string nodes = test::NodeListXml({nodes_[0]->Host(), nodes_[1]->Host()});
  nodes.replace(nodes.find("<Weight>1</Weight>"), 18, "<Weight>1000</Weight>");
  manifests_.SetBody("/nodes/" + package_.partnerId + ".xml", nodes);
  EngineSettings settings = Settings();
  settings.minRequestTimeout = 3600;
  settings.minLowSpeedTime = settings.maxLowSpeedTime = 3600;
  settings.minRequestSpeed = 1;
  TransferEngine engine(
      settings, AnalyticsEndpoints{analytics_.Url("/events"), analytics_.Url("/transfers")});

  const std::string dest = temp_ / "dest";
  const TransferStatus status = Download(engine, dest);
  EXPECT_EQ(status.state, TransferState::Completed) << ToString(status.error);
  ExpectFilesMatch(dest);
  EXPECT_LT(nodes_[0]->BytesServed(last), 3000u) << "node 1 delivered a whole chunk";
}

// Node 1, weighted far above the two healthy nodes so that it is drawn for
// nearly every chunk, misbehaves as `breakNode` sets it up for each file. The
// download must complete with the right bytes, having asked node 1. The bytes
// the nodes served go into the test's XML report for scripts/fault-matrix.
class OneBadNodeTest : public TransferEngineTest {
 protected:
  void Run(const std::function<void(TestHttpServer&, const std::string&)>& breakNode) {
    for (const auto& [path, contents] : package_.files) {
      if (!contents.empty()) breakNode(*nodes_[0], package_.NodePath(path));
    }
    package_.Serve(manifests_, Nodes());
    std::string list = test::NodeListXml({nodes_[0]->Host(), nodes_[1]->Host(), nodes_[2]->Host()});
    list.replace(list.find("<Weight>1</Weight>"), 18, "<Weight>1000</Weight>");
    manifests_.SetBody("/nodes/" + package_.partnerId + ".xml", list);
    const std::string dest = temp_ / "dest";
    {
      auto engine = MakeEngine();
      const TransferStatus status = Download(*engine, dest);
      EXPECT_EQ(status.state, TransferState::Completed) << ToString(status.error);
      EXPECT_EQ(status.error, TransferError::None);
    }
    ExpectFilesMatch(dest);
    const std::uint64_t fromBadNode = package_.BytesServedBy(*nodes_[0]);
    EXPECT_GT(fromBadNode, 0u) << "the misbehaving node was never asked";
    RecordProperty("bytesServed", std::to_string(ServedBytes()));
  }
};

TEST_F(OneBadNodeTest, ANodeResettingConnectionsIsWorkedAround) {
  Run([](TestHttpServer& node, const std::string& path) { node.SetResetAfter(path, 1000); });
}

TEST_F(OneBadNodeTest, ANodeSendingShortBodiesIsWorkedAround) {
  // The headers promise the whole range; the connection closes half-way.
  Run([](TestHttpServer& node, const std::string& path) { node.SetCloseAfter(path, 1500); });
}

TEST_F(OneBadNodeTest, ANodeAnsweringAnotherRangeIsWorkedAround) {
  // Another range of the right length under a Content-Range naming it: only
  // the chunk's checksum tells the bytes are not the ones asked for.
  Run([](TestHttpServer& node, const std::string& path) { node.SetRangeShift(path, 1234); });
}

TEST_F(TransferEngineTest, AFileOfTheWrongSizeInTheWayIsMadeAgain) {
  // Left by something else (or an older version): too short, and too long
  // with the right bytes first. Neither may be trusted or kept in part.
  package_.Serve(manifests_, Nodes());
  const std::string dest = temp_ / "dest";
  fs::create_directories(dest + "/data");
  std::ofstream(dest + "/data/one.bin", std::ios::binary) << "junk!";
  std::ofstream(dest + "/readme.txt", std::ios::binary)
      << package_.files.at("readme.txt") << "trailing bytes";
  auto engine = MakeEngine();
  const TransferStatus status = Download(*engine, dest);
  EXPECT_EQ(status.state, TransferState::Completed) << ToString(status.error);
  ExpectFilesMatch(dest);
}

TEST_F(TransferEngineTest, AllNodesDownIsRetryableAndRetryCompletes) {
  package_.Serve(manifests_, Nodes());
  for (auto& node : nodes_) {
    for (const auto& [path, contents] : package_.files) {
      node->SetStatuses(package_.NodePath(path), std::vector<int>(1000, 503));
    }
  }
  auto engine = MakeEngine();
  const TransferStatus created =
      engine->CreateTransfer(package_.partnerId, package_.packageId, "?");
  WaitFor(*engine, created.transferId,
          [](const TransferStatus& s) { return s.state == TransferState::Initialized; });
  fs::create_directories(temp_ / "dest");
  engine->StartTransfer(created.transferId, temp_ / "dest");
  TransferStatus status = WaitFor(*engine, created.transferId, [](const TransferStatus& s) {
    return s.error != TransferError::None;
  });
  EXPECT_EQ(status.error, TransferError::ConnectionError);
  EXPECT_TRUE(status.retryable);
  EXPECT_FALSE(IsFinal(status));

  for (auto& node : nodes_) {
    for (const auto& [path, contents] : package_.files) {
      node->SetStatuses(package_.NodePath(path), {});
    }
  }
  auto transfer = engine->GetTransferManager().Find(created.transferId, engine->GetBehavior());
  ASSERT_NE(transfer, nullptr);
  EXPECT_EQ(transfer->Retry().error, TransferError::None);
  status = WaitFor(*engine, created.transferId, [](const TransferStatus& s) { return IsFinal(s); });
  EXPECT_EQ(status.state, TransferState::Completed);
  ExpectFilesMatch(temp_ / "dest");
}

TEST_F(TransferEngineTest, ASuspendedTransferResumesInANewEngineWithoutRefetching) {
  package_.AddFile("data/big.bin", 300000, 5);
  package_.Serve(manifests_, Nodes());
  for (auto& node : nodes_) {
    for (const auto& [path, contents] : package_.files) {
      node->SetThrottle(package_.NodePath(path), 40000);
    }
  }
  const std::string dest = temp_ / "dest";
  std::string id;
  {
    auto engine = MakeEngine();
    id = engine->CreateTransfer(package_.partnerId, package_.packageId, "?").transferId;
    WaitFor(*engine, id,
            [](const TransferStatus& s) { return s.state == TransferState::Initialized; });
    fs::create_directories(dest);
    engine->StartTransfer(id, dest);
    WaitFor(*engine, id,
            [&](const TransferStatus& s) { return s.completedBytes > package_.TotalSize() / 4; });
    // Destroying the engine suspends the transfer and keeps it stored.
  }
  const std::uint64_t servedBefore = ServedBytes();
  ASSERT_LT(servedBefore, package_.TotalSize());
  for (auto& node : nodes_) {
    for (const auto& [path, contents] : package_.files) {
      node->SetThrottle(package_.NodePath(path), 0);
    }
  }

  auto engine = MakeEngine();
  TransferStatus status = engine->GetTransferStatus(id);
  EXPECT_EQ(status.state, TransferState::Suspended);
  EXPECT_EQ(status.destPath, dest);
  auto transfer = engine->GetTransferManager().Find(id, engine->GetBehavior());
  ASSERT_NE(transfer, nullptr);
  EXPECT_EQ(transfer->Restore().state, TransferState::Initializing);
  WaitFor(*engine, id,
          [](const TransferStatus& s) { return s.state == TransferState::Initialized; });
  EXPECT_EQ(engine->StartTransfer(id, "").state, TransferState::Transferring);
  status = WaitFor(*engine, id, [](const TransferStatus& s) { return IsFinal(s); });
  EXPECT_EQ(status.state, TransferState::Completed);
  ExpectFilesMatch(dest);
  // Chunks that were whole on disk were verified, not fetched again: the second
  // run fetched less than the package (up to a few chunks cut off mid-way).
  const std::uint64_t servedAfter = ServedBytes() - servedBefore;
  EXPECT_LT(servedAfter, package_.TotalSize() - package_.TotalSize() / 4 + 10 * 3000);
}

TEST_F(TransferEngineTest, AFileOfAnotherSizeKeepsTheChunksThatStillVerify) {
  package_.files.clear();
  package_.run.clear();
  package_.AddFile("a.bin", 64 * 3000 + 100, 3);
  package_.Serve(manifests_, Nodes());
  const std::string contents = package_.files["a.bin"];
  // An earlier run's file cut one byte short, and one a byte too long: only
  // the short last chunk of the first is fetched again.
  for (const std::string& old :
       {contents, contents.substr(0, contents.size() - 1), contents + "x"}) {
    const std::string dest = temp_ / ("dest" + std::to_string(old.size()));
    fs::create_directories(dest);
    std::ofstream(dest + "/a.bin", std::ios::binary) << old;
    const std::uint64_t before = ServedBytes();
    auto engine = MakeEngine();
    EXPECT_EQ(Download(*engine, dest).state, TransferState::Completed);
    ExpectFilesMatch(dest);
    // The short last chunk, perhaps twice: the tail may ask a second node.
    EXPECT_LE(ServedBytes() - before, 200u) << old.size();
  }
}

TEST_F(TransferEngineTest, AFileGoneFromItsPathBeforeTheEndIsAnErrorNotComplete) {
  package_.AddFile("a.bin", 40 * 4096, 4);
  package_.AddFile("b.bin", 4096, 5);
  package_.Serve(manifests_, Nodes());
  const std::vector<std::pair<std::string, std::function<void(const fs::path&)>>> changes = {
      {"deleted", [](const fs::path& file) { fs::remove(file); }},
      {"moved", [](const fs::path& file) { fs::rename(file, file.string() + ".old"); }},
      {"a link",
       [](const fs::path& file) {
         fs::rename(file, file.string() + ".old");
         fs::create_symlink(file.string() + ".old", file);
       }},
      {"a folder", [](const fs::path& file) {
         fs::remove(file);
         fs::create_directory(file);
       }}};
  for (const auto& [name, change] : changes) {
    for (auto& node : nodes_) node->SetThrottle(package_.NodePath("a.bin"), 40000);
    const fs::path dest = temp_ / ("dest-" + name);
    fs::create_directories(dest);
    auto engine = MakeEngine();
    const std::string id =
        engine->CreateTransfer(package_.partnerId, package_.packageId, "?").transferId;
    WaitFor(*engine, id,
            [](const TransferStatus& s) { return s.state == TransferState::Initialized; });
    engine->StartTransfer(id, dest.string());
    WaitFor(*engine, id, [](const TransferStatus& s) { return s.completedBytes > 8 * 4096; });
    change(dest / "a.bin");
    for (auto& node : nodes_) node->SetThrottle(package_.NodePath("a.bin"), 0);
    const TransferStatus status =
        WaitFor(*engine, id, [](const TransferStatus& s) { return IsFinal(s); });
    EXPECT_NE(status.state, TransferState::Completed) << name;
    EXPECT_EQ(status.error, TransferError::FileAccessError) << name;
    EXPECT_NE(status.errorCause.find((dest / "a.bin").string()), std::string::npos)
        << name << ": " << status.errorCause;
  }
}

TEST_F(TransferEngineTest, WrongOrEmptyPackagesFail) {
  TestPackage other = package_;
  other.packageId = "other";
  // The host answers for "pkg" with the manifest of "other".
  package_.Serve(manifests_, Nodes());
  manifests_.SetBody("/manifests/pkg/current.xml", other.ManifestXml());
  auto engine = MakeEngine();
  TransferStatus status = Download(*engine, temp_ / "a");
  EXPECT_EQ(status.error, TransferError::ManifestError);

  TestPackage empty = package_;
  empty.packageId = "empty";
  empty.run.clear();
  empty.files.clear();
  empty.Serve(manifests_, Nodes());
  const TransferStatus created = engine->CreateTransfer(empty.partnerId, "empty", "?");
  status = WaitFor(*engine, created.transferId, [](const TransferStatus& s) {
    return s.state == TransferState::Initialized || IsFinal(s);
  });
  if (status.state == TransferState::Initialized) {
    fs::create_directories(temp_ / "b");
    engine->StartTransfer(created.transferId, temp_ / "b");
    status =
        WaitFor(*engine, created.transferId, [](const TransferStatus& s) { return IsFinal(s); });
  }
  EXPECT_EQ(status.error, TransferError::UnexpectedError);
}

TEST_F(TransferEngineTest, CancelWithDeletionRemovesTheFiles) {
  package_.Serve(manifests_, Nodes());
  for (auto& node : nodes_) {
    for (const auto& [path, contents] : package_.files) {
      node->SetThrottle(package_.NodePath(path), 20000);
    }
  }
  auto engine = MakeEngine();
  const std::string dest = temp_ / "dest";
  const std::string id =
      engine->CreateTransfer(package_.partnerId, package_.packageId, "?").transferId;
  WaitFor(*engine, id,
          [](const TransferStatus& s) { return s.state == TransferState::Initialized; });
  fs::create_directories(dest);
  engine->StartTransfer(id, dest);
  WaitFor(*engine, id, [](const TransferStatus& s) { return s.progressBytes > 0; });
  auto transfer = engine->GetTransferManager().Find(id, engine->GetBehavior());
  ASSERT_NE(transfer, nullptr);
  EXPECT_EQ(transfer->Cancel(true).state, TransferState::Canceled);
  engine.reset();  // every work has ended
  for (const auto& [path, contents] : package_.files) {
    EXPECT_FALSE(fs::exists(dest + "/" + path)) << path;
  }
  EXPECT_FALSE(fs::exists(temp_ / ("velmo-test/transfers/" + id + ".json")));
}

// A suspension replaces what the transfer knows, not what it put on disk:
// Cancel(true) after Suspend (mid-download) and Restore removes the files of
// both runs, at any point of the restored run. One file is worked on at a
// time, so the restored run may have works for fewer files than are on disk.
TEST_F(TransferEngineTest, CancelWithDeletionAfterARestoreRemovesTheFilesOfEveryRun) {
  enum Point { MidDownload, AfterAFileCompleted, BeforeTheManifests };  // the last delays them
  for (const Point point : {MidDownload, AfterAFileCompleted, BeforeTheManifests}) {
    SCOPED_TRACE(point);
    package_.Serve(manifests_, Nodes());
    for (auto& node : nodes_) {
      node->SetThrottle(package_.NodePath("data/one.bin"), 2000);
      node->SetThrottle(package_.NodePath("readme.txt"), 500);
    }
    const std::string dest = temp_ / ("dest" + std::to_string(point));
    fs::create_directories(dest);
    EngineSettings settings = Settings();
    settings.parallelWorkCapacity = 1;
    auto engine = std::make_unique<TransferEngine>(settings, AnalyticsEndpoints{});
    const std::string id =
        engine->CreateTransfer(package_.partnerId, package_.packageId, "?").transferId;
    const auto initialized = [](const TransferStatus& s) {
      return s.state == TransferState::Initialized;
    };
    WaitFor(*engine, id, initialized);
    engine->StartTransfer(id, dest);
    // The program is whole (its cluster comes first) and the next file begun.
    WaitFor(*engine, id, [&](const TransferStatus&) { return fs::exists(dest + "/data/one.bin"); });
    auto transfer = engine->GetTransferManager().Find(id, engine->GetBehavior());
    ASSERT_NE(transfer, nullptr);
    ASSERT_EQ(transfer->Suspend().state, TransferState::Suspended);

    if (point == BeforeTheManifests) {
      manifests_.SetDelay("/nodes/" + package_.partnerId + ".xml", 3s);
    } else if (point == AfterAFileCompleted) {
      for (auto& node : nodes_) node->SetThrottle(package_.NodePath("data/one.bin"), 0);
    }
    ASSERT_EQ(transfer->Restore().state, TransferState::Initializing);
    if (point != BeforeTheManifests) {
      WaitFor(*engine, id, initialized);
      engine->StartTransfer(id, "");
      // Past the program; or the first slow file whole and the last one
      // begun, made by the restored run alone.
      WaitFor(*engine, id, [&](const TransferStatus& s) {
        if (point == MidDownload) return s.completedBytes > 10000;
        return s.completedBytes >= 35000 && fs::exists(dest + "/readme.txt");
      });
    }
    ASSERT_FALSE(IsFinal(engine->GetTransferStatus(id)));
    EXPECT_EQ(transfer->Cancel(true).state, TransferState::Canceled);
    transfer.reset();
    engine.reset();  // every work has ended
    for (const auto& [path, contents] : package_.files) {
      EXPECT_FALSE(fs::exists(dest + "/" + path)) << path;
    }
  }
}

TEST_F(TransferEngineTest, UnknownIdsAndShutdown) {
  auto engine = MakeEngine();
  TransferStatus status = engine->GetTransferStatus("0123456789abcdef0123456789abcdef");
  EXPECT_EQ(status.state, TransferState::Invalid);
  EXPECT_EQ(status.error, TransferError::None);
  EXPECT_EQ(status.transferId, "0123456789abcdef0123456789abcdef");
  const std::string a = engine->CreateTransfer("p", "k", "?").transferId;
  const std::string b = engine->CreateTransfer("p", "k", "?").transferId;
  EXPECT_NE(a, b);
  EXPECT_EQ(a[12], '4');
  engine->GetTransferManager().Shutdown();
  status = engine->CreateTransfer("p", "k", "?");
  EXPECT_EQ(status.state, TransferState::Invalid);
  EXPECT_EQ(status.error, TransferError::UnexpectedError);
  EXPECT_EQ(engine->GetTransferStatus(a).state, TransferState::Invalid);
}

}  // namespace
}  // namespace velmo

namespace velmo {
namespace {

// A refused node list fails the transfer with a cause that names the document
// and the HTTP status, in the status and in the work log alike.
TEST_F(TransferEngineTest, ARefusedNodeListNamesItsUrlAndStatus) {
  package_.Serve(manifests_, Nodes());
  const std::string path = "/nodes/" + package_.partnerId + ".xml";
  manifests_.SetStatuses(path, {403, 403, 403, 403});
  auto engine = MakeEngine();
  const TransferStatus status = Download(*engine, temp_ / "a");
  EXPECT_EQ(status.error, TransferError::ManifestError);
  EXPECT_FALSE(status.retryable);
  EXPECT_NE(status.errorCause.find("node list http://" + manifests_.Host() + path),
            std::string::npos)
      << status.errorCause;
  EXPECT_NE(status.errorCause.find("HTTP 403"), std::string::npos) << status.errorCause;
  engine.reset();  // flushes the work log

  bool logged = false;
  for (const auto& entry : fs::directory_iterator(temp_ / "velmo-test/logs")) {
    std::istringstream in(ReadFile(entry.path().string()));
    for (std::string line; std::getline(in, line);) {
      if (line.find("\"FatalError\"") == std::string::npos) continue;
      EXPECT_NE(line.find("\"error\":\"ManifestError\""), std::string::npos) << line;
      EXPECT_NE(line.find("HTTP 403"), std::string::npos) << line;
      logged = true;
    }
  }
  EXPECT_TRUE(logged) << "no FatalError record in the work log";
}

}  // namespace
}  // namespace velmo
