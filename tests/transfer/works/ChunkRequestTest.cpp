// A chunk's requests against real nodes (in-process servers) through the
// whole chunk pipeline on a workflow: how many requests each retry budget
// allows and how the chunk then fails, which nodes a chunk with wrong bytes
// goes to next, and what a cancelled request leaves behind (nothing written,
// nothing blamed, nothing retried).
#include <gtest/gtest.h>
#include <libdeflate.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/Eventually.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"
#include "support/TestPackage.h"
#include "velmo/file/BufferedChunkData.h"
#include "velmo/file/ChunkBufferPool.h"
#include "velmo/file/PosixSharedFileFactory.h"
#include "velmo/file/SharedFile.h"
#include "velmo/http/CurlHttpRequestFactory.h"
#include "velmo/http/EmptyHttpProxy.h"
#include "velmo/http/HttpProxyFactory.h"
#include "velmo/manifest/StandardNodeListManifest.h"
#include "velmo/manifest/StandardPackageManifest.h"
#include "velmo/manifest/XmlManifestReader.h"
#include "velmo/optimizer/NodeStatistics.h"
#include "velmo/optimizer/TransferOptimizer.h"
#include "velmo/platform/Clock.h"
#include "velmo/transfer/TransferError.h"
#include "velmo/transfer/TransferProgressUpdater.h"
#include "velmo/transfer/TransferWorkInterface.h"
#include "velmo/transfer/works/ChecksumStatusData.h"
#include "velmo/transfer/works/HttpTransferStatusData.h"
#include "velmo/transfer/works/OptimizedRequestChunkWork.h"
#include "velmo/transfer/works/RetryableTransferChunkWork.h"
#include "velmo/transfer/works/TailRequestTracker.h"
#include "velmo/transfer/works/TransferSharedFileData.h"
#include "velmo/transfer/works/TransferSharedMapData.h"
#include "velmo/transfer/works/TransferSingleChunkWork.h"
#include "velmo/transfer/works/TransferSingleFileWork.h"
#include "velmo/work/AsioWorkManager.h"
#include "velmo/work/StandardWorkflow.h"

namespace velmo {
namespace {

using namespace std::chrono_literals;
using test::TestHttpServer;

// Far longer than any of these tests needs when the code is right; reached
// only when a request is not stopped or a chunk never ends.
constexpr auto kBound = 60s;

class DirectProxies : public HttpProxyFactory {
 public:
  std::shared_ptr<HttpProxy> Create() override { return std::make_shared<EmptyHttpProxy>(); }
};

// A predictable optimizer: the preferred host while it is a candidate, else
// the first candidate; generous limits, so only the server decides how a
// request ends. Records what the chunk work tells it.
class ScriptedOptimizer : public TransferOptimizer {
 public:
  ScriptedOptimizer() : TransferOptimizer(EngineSettings(1)) {}

  void GetNode(OptimizedRequestParams& params) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (params.candidates.empty()) throw std::invalid_argument("no candidates");
    std::shared_ptr<NodeManifest> pick = params.candidates.front();
    for (const auto& node : params.candidates) {
      if (node->GetHost() == preferred_) pick = node;
    }
    params.SelectedNode = pick;
    params.exploring = false;
    params.limitsCanGrow = false;
    params.connectTimeout = 10;
    params.timeout = 300;
    params.lowSpeedLimit = 0;
    params.lowSpeedTime = 0;
    params.lease = ++lastLease_;
    params.freeRetry = freeRetries_ > 0;
    if (freeRetries_ > 0) --freeRetries_;
    chosen_.push_back(pick->GetHost());
  }
  void ReleaseNode(const OptimizedRequestParams&) override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++released_;
  }
  void ReportChecksumFailure(const OptimizedRequestParams&, std::uint64_t, std::int32_t) override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++checksumFailures_;
  }

  void Prefer(std::string host) {
    std::lock_guard<std::mutex> lock(mutex_);
    preferred_ = std::move(host);
  }
  void GiveFreeRetries(int count) {
    std::lock_guard<std::mutex> lock(mutex_);
    freeRetries_ = count;
  }
  std::vector<HttpRequestResult> Reported() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return reported_;
  }
  int Released() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return released_;
  }
  int ChecksumFailures() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return checksumFailures_;
  }

 protected:
  void UpdateStatistics(std::unique_lock<std::mutex>&, const OptimizedRequestParams&,
                        const HttpRequestStatus& status, std::int32_t) override {
    reported_.push_back(status.result);  // mutex_ is held by ReportResult
  }

 private:
  std::string preferred_;
  int freeRetries_ = 0;
  std::uint64_t lastLease_ = 0;
  std::vector<std::string> chosen_;
  std::vector<HttpRequestResult> reported_;
  int released_ = 0;
  int checksumFailures_ = 0;
};

class NullProgress : public TransferProgressUpdater {
 public:
  void AddProgress(const std::uint64_t&) override {}
  void RemoveProgress(const std::uint64_t&) override {}
  void AddVerified(const std::uint64_t&) override {}
  void AddDownloaded(const std::uint64_t&) override {}
};

// What the chunk's works see of a transfer: its node list and services.
class ChunkTransferInterface : public TransferWorkInterface {
 public:
  ChunkTransferInterface(TransferBehavior behavior, std::shared_ptr<NodeListManifest> nodes,
                         std::shared_ptr<TailRequestTracker> tail,
                         std::shared_ptr<PackageManifest> package = nullptr,
                         std::string destPath = std::string())
      : behavior_(std::move(behavior)),
        nodes_(std::move(nodes)),
        tail_(std::move(tail)),
        package_(std::move(package)) {
    params_.partnerId = "partner";
    params_.packageId = "pkg";
    params_.versionId = "1.0";
    params_.destPath = std::move(destPath);
  }
  TransferParams GetParams() override { return params_; }
  const TransferParams& GetParamsRef() override { return params_; }
  const TransferBehavior& GetBehavior() override { return behavior_; }
  std::shared_ptr<PackageManifest> GetPackage() override { return package_; }
  std::shared_ptr<NodeListManifest> GetNodeList() override { return nodes_; }
  std::shared_ptr<TransferProgressUpdater> GetProgressUpdater() override { return progress_; }
  std::shared_ptr<HttpSession> GetSession() override { return nullptr; }
  WorkCompleteCallback* GetWorkCompleteCallback() override { return nullptr; }
  WorkCompleteCallback* GetPackageAcquireCallback() override { return nullptr; }
  WorkCompleteCallback* GetNodeListAcquireCallback() override { return nullptr; }
  WorkCompleteCallback* GetInitializeCallback() override { return nullptr; }
  WorkflowRetryableErrorCallback* GetRetryableErrorCallback() override { return nullptr; }
  void RegisterFile(const std::string&) override {}
  std::shared_ptr<TailRequestTracker> GetTailTracker() override { return tail_; }

 private:
  TransferParams params_;
  TransferBehavior behavior_;
  std::shared_ptr<NodeListManifest> nodes_;
  std::shared_ptr<TailRequestTracker> tail_;
  std::shared_ptr<PackageManifest> package_;
  std::shared_ptr<TransferProgressUpdater> progress_ = std::make_shared<NullProgress>();
};

// How the chunk's workflow ended: the root completed, or a failure with its
// retries used up suspended it.
class Outcome : public WorkCompleteCallback, public WorkflowRetryableErrorCallback {
 public:
  void OnWorkComplete(std::shared_ptr<const Work>, const WorkStatus& status) override {
    std::lock_guard<std::mutex> lock(mutex_);
    rootDone_ = true;
    rootStatus_ = status;
    changed_.notify_all();
  }
  void OnWorkflowRetryableError(std::shared_ptr<Workflow>, std::shared_ptr<const Work> work,
                                const WorkStatus& status) override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++suspensions_;
    failedWork_ = std::move(work);
    failure_ = status;
    changed_.notify_all();
  }
  // True when the root completed or the workflow was suspended (again).
  bool WaitEnd(int suspensionsBefore = 0) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, kBound,
                             [&] { return rootDone_ || suspensions_ > suspensionsBefore; });
  }
  bool RootDone() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return rootDone_;
  }
  WorkStatus RootStatus() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return rootStatus_;
  }
  int Suspensions() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return suspensions_;
  }
  std::shared_ptr<const Work> FailedWork() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return failedWork_;
  }
  WorkStatus Failure() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return failure_;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool rootDone_ = false;
  WorkStatus rootStatus_{WorkResult::Fatal};
  int suspensions_ = 0;
  std::shared_ptr<const Work> failedWork_;
  WorkStatus failure_{WorkResult::Fatal};
};

std::string Bytes(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  std::uint32_t state = seed * 2654435761u + 1u;
  for (char& c : bytes) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 24);
  }
  return bytes;
}

class ChunkRequestTest : public ::testing::Test {
 protected:
  static constexpr std::size_t kChunk = 96 * 1024;
  const std::string kPath = "/packages/partner/pkg/1.0/f.bin";

  ChunkRequestTest() : body_(Bytes(kChunk, 7)) {}

  ~ChunkRequestTest() override {
    if (workflow_ && !workflow_->IsFinished()) {
      workflow_->Cancel(WorkStatus(WorkResult::Interrupted, nullptr));
    }
    WaitIdle();
  }

  // `count` nodes, each serving the chunk's file correctly for now.
  void MakeNodes(std::size_t count) {
    std::vector<std::string> hosts;
    for (std::size_t i = 0; i < count; ++i) {
      nodes_.push_back(std::make_unique<TestHttpServer>());
      nodes_.back()->SetBody(kPath, body_);
      hosts.push_back(nodes_.back()->Host());
    }
    UseNodeList(hosts);
  }

  // The node list names these hosts, in order (one host may appear often).
  void UseNodeList(const std::vector<std::string>& hosts) {
    std::istringstream xml(test::NodeListXml(hosts));
    boost::property_tree::ptree tree;
    ReadXmlManifest(xml, tree);
    auto list = std::make_shared<StandardNodeListManifest>();
    list->Parse(tree);
    nodeList_ = list;
  }

  // Starts the pipeline of one chunk (the whole file, created empty now)
  // with these retry settings.
  void Start(std::uint32_t requestRetries, std::uint32_t chunkRetries) {
    TransferBehavior behavior = Behavior();
    behavior.settings.requestRetryCount = requestRetries;
    behavior.settings.chunkRetryCount = chunkRetries;
    face_ = std::make_shared<ChunkTransferInterface>(behavior, nodeList_, tail_);
    fileData_ = std::make_shared<TransferSharedFileData>("f.bin", kChunk);
    fileData_->file =
        files_.OpenFile(dir_.path(), "f.bin", FileOpenMode::OpenOrCreate, 0, kChunk - 1);
    fileData_->created = fileData_->file->Allocate(kChunk);
    const auto crc = static_cast<std::uint32_t>(libdeflate_crc32(0, body_.data(), body_.size()));
    root_ = TransferSingleChunkWork::Create(face_, fileData_, 0, kChunk - 1, crc);
    Run(root_);
  }

  // Starts the whole file "f.bin" (open, its chunks, close) as the only file
  // of a package, with its chunks of kChunk bytes.
  void StartFile(const std::string& contents) {
    test::TestPackage package;
    package.chunkSize = kChunk;
    package.files["f.bin"] = contents;
    std::istringstream xml(package.ManifestXml());
    boost::property_tree::ptree tree;
    ReadXmlManifest(xml, tree);
    auto manifest = std::make_shared<StandardPackageManifest>();
    manifest->Parse(tree);
    face_ = std::make_shared<ChunkTransferInterface>(Behavior(), nodeList_, tail_, manifest,
                                                     dir_.path());
    fileRoot_ = TransferSingleFileWork::Create(face_, manifest->GetFiles().front());
    Run(fileRoot_);
  }

  // The test's services: real requests and files, the scripted optimizer.
  TransferBehavior Behavior() {
    TransferBehavior behavior;
    behavior.requestFactory = &requests_;
    behavior.optimizer = &optimizer_;
    behavior.chunkBuffers = &buffers_;
    behavior.sharedFileFactory = &files_;
    return behavior;
  }

  // Runs `root` on a workflow of its own whose outcome `outcome_` records.
  void Run(const std::shared_ptr<Work>& root) {
    root->AddCompleteCallback(&outcome_);
    workflow_ = std::make_shared<StandardWorkflow>(root, &manager_, 4);
    root->SetWorkflow(workflow_);
    workflow_->AddRetryableErrorCallback(&outcome_);
    ASSERT_TRUE(workflow_->Start());
  }

  // Bounded wait until nothing of the chunk runs on the pool.
  bool WaitIdle() {
    if (!workflow_) return true;
    const auto until = std::chrono::steady_clock::now() + kBound;
    while (workflow_->RunningCount() > 0) {
      if (std::chrono::steady_clock::now() > until) return false;
      std::this_thread::sleep_for(5ms);
    }
    return true;
  }

  // Bounded wait until the chunk's request has received some of its body.
  bool WaitReceiving() {
    const auto until = std::chrono::steady_clock::now() + kBound;
    while (Chunk().fileProgressBytes.load() == 0) {
      if (std::chrono::steady_clock::now() > until) return false;
      std::this_thread::sleep_for(5ms);
    }
    return true;
  }

  int Requests(std::size_t node) const { return nodes_[node]->RequestCount(kPath); }
  std::shared_ptr<NodeStatistics> Statistics(std::size_t node) const {
    return nodeList_->GetNodes()[node]->GetStatistics();
  }
  std::string Disk() const { return test::ReadFile(dir_ / "f.bin"); }
  TransferSharedMapData& Chunk() const { return *root_->GetChunk(); }

  test::TempDir dir_;
  const std::string body_;
  std::vector<std::unique_ptr<TestHttpServer>> nodes_;
  std::shared_ptr<NodeListManifest> nodeList_;
  DirectProxies proxies_;
  CurlHttpRequestFactory requests_{proxies_};
  ScriptedOptimizer optimizer_;
  ChunkBufferPool buffers_{kChunk, 8 * kChunk};
  PosixSharedFileFactory files_;
  std::shared_ptr<TailRequestTracker> tail_;
  Outcome outcome_;
  AsioWorkManager manager_{3};  // two stalled requests and a tail request
  std::shared_ptr<ChunkTransferInterface> face_;
  std::shared_ptr<TransferSharedFileData> fileData_;
  std::shared_ptr<TransferSingleChunkWork> root_;
  std::shared_ptr<TransferSingleFileWork> fileRoot_;
  std::shared_ptr<StandardWorkflow> workflow_;
};

// ---------------------------------------------------------------------------
// Retry budgets

TEST_F(ChunkRequestTest, FailedRequestsUseTheRequestBudgetThenSuspendWithTheHttpFailure) {
  MakeNodes(1);
  // Three failures use up one execution (two retries); two more after the
  // resume show that the budget starts again then.
  nodes_[0]->SetStatuses(kPath, {503, 503, 503, 503, 503});
  Start(2, 4);
  ASSERT_TRUE(outcome_.WaitEnd());
  ASSERT_TRUE(WaitIdle());
  EXPECT_FALSE(outcome_.RootDone());
  ASSERT_EQ(outcome_.Suspensions(), 1);
  EXPECT_EQ(Requests(0), 3);
  EXPECT_TRUE(std::dynamic_pointer_cast<const OptimizedRequestChunkWork>(outcome_.FailedWork()));
  const WorkStatus failure = outcome_.Failure();
  EXPECT_EQ(failure.result, WorkResult::RetryableError);
  const auto http = std::dynamic_pointer_cast<HttpTransferStatusData>(failure.data);
  ASSERT_TRUE(http);
  EXPECT_EQ(http->GetStatus().result, HttpRequestResult::ServerError);
  EXPECT_EQ(http->GetStatus().responseCode, 503);
  EXPECT_NE(http->ToTransferError(), TransferError::None);
  EXPECT_NE(http->ToTransferError(), TransferError::ChecksumMismatch);
  EXPECT_EQ(Statistics(0)->GetErrors(), 3u);
  EXPECT_EQ(optimizer_.Reported().size(), 3u);
  EXPECT_EQ(Chunk().badNodeMask, 0u);  // a failed request is not wrong bytes
  EXPECT_EQ(Disk(), std::string(kChunk, '\0'));

  ASSERT_TRUE(workflow_->ResumeSuspended());
  ASSERT_TRUE(outcome_.WaitEnd(1));
  EXPECT_TRUE(outcome_.RootDone());
  EXPECT_EQ(outcome_.RootStatus().result, WorkResult::Success);
  EXPECT_EQ(outcome_.Suspensions(), 1);
  EXPECT_EQ(Requests(0), 6);
  EXPECT_EQ(Disk(), body_);
}

TEST_F(ChunkRequestTest, EveryNodeGetsATurnAndFreeRetriesCostNothing) {
  MakeNodes(3);
  for (auto& node : nodes_) node->SetStatuses(kPath, std::vector<int>(20, 500));
  // A budget of 0 below the node count still tries each node once, and the
  // two retries the optimizer calls free come on top.
  optimizer_.GiveFreeRetries(2);
  Start(0, 0);
  ASSERT_TRUE(outcome_.WaitEnd());
  ASSERT_TRUE(WaitIdle());
  ASSERT_EQ(outcome_.Suspensions(), 1);
  EXPECT_EQ(Requests(0) + Requests(1) + Requests(2), 5);
  // The rotation: no node twice before every node once.
  EXPECT_EQ(Requests(0), 2);
  EXPECT_EQ(Requests(1), 2);
  EXPECT_EQ(Requests(2), 1);
  EXPECT_EQ(Disk(), std::string(kChunk, '\0'));
}

TEST_F(ChunkRequestTest, WrongBytesUseTheChunkBudgetThenSuspendWithAChecksumFailure) {
  MakeNodes(1);
  nodes_[0]->SetCorrupt(kPath, 1000);
  Start(0, 2);
  ASSERT_TRUE(outcome_.WaitEnd());
  ASSERT_TRUE(WaitIdle());
  EXPECT_FALSE(outcome_.RootDone());
  ASSERT_EQ(outcome_.Suspensions(), 1);
  EXPECT_EQ(Requests(0), 3);  // the first fetch and two more
  EXPECT_TRUE(std::dynamic_pointer_cast<const RetryableTransferChunkWork>(outcome_.FailedWork()));
  const WorkStatus failure = outcome_.Failure();
  EXPECT_EQ(failure.result, WorkResult::RetryableError);
  const auto checksum = std::dynamic_pointer_cast<ChecksumStatusData>(failure.data);
  ASSERT_TRUE(checksum);
  EXPECT_EQ(checksum->ToTransferError(), TransferError::ChecksumMismatch);
  EXPECT_EQ(Chunk().badNodeMask, 1u);
  EXPECT_EQ(Chunk().badNodeCount, 1u);
  EXPECT_EQ(Statistics(0)->GetChecksumFailures(), 3u);
  EXPECT_EQ(optimizer_.ChecksumFailures(), 3);
  EXPECT_EQ(Disk(), std::string(kChunk, '\0'));  // no wrong byte written
}

TEST_F(ChunkRequestTest, ANodeWithWrongBytesIsNotAskedAgainWhileOthersRemain) {
  MakeNodes(3);
  nodes_[0]->SetCorrupt(kPath, 5);
  nodes_[1]->SetStatuses(kPath, {503});
  // The optimizer would pick the corrupting node every time it may.
  optimizer_.Prefer(nodes_[0]->Host());
  Start(4, 4);
  ASSERT_TRUE(outcome_.WaitEnd());
  ASSERT_TRUE(WaitIdle());
  ASSERT_TRUE(outcome_.RootDone());
  EXPECT_EQ(outcome_.RootStatus().result, WorkResult::Success);
  EXPECT_EQ(outcome_.Suspensions(), 0);
  // Wrong bytes from node 0, a failed request at node 1, the chunk from 2.
  EXPECT_EQ(Requests(0), 1);
  EXPECT_EQ(Requests(1), 1);
  EXPECT_EQ(Requests(2), 1);
  EXPECT_EQ(Chunk().badNodeMask, 1u << 0);  // only the node that sent wrong bytes
  EXPECT_EQ(Chunk().badNodeCount, 1u);
  EXPECT_EQ(Disk(), body_);
}

TEST_F(ChunkRequestTest, WhenEveryNodeSendsWrongBytesTheChunkFailsAfterOneRound) {
  MakeNodes(3);
  for (auto& node : nodes_) node->SetCorrupt(kPath, 77);
  Start(0, 0);
  ASSERT_TRUE(outcome_.WaitEnd());
  ASSERT_TRUE(WaitIdle());
  ASSERT_EQ(outcome_.Suspensions(), 1);
  EXPECT_FALSE(outcome_.RootDone());
  EXPECT_EQ(Requests(0), 1);
  EXPECT_EQ(Requests(1), 1);
  EXPECT_EQ(Requests(2), 1);
  EXPECT_EQ(Chunk().badNodeMask, 0b111u);
  EXPECT_EQ(Chunk().badNodeCount, 3u);
  const auto checksum = std::dynamic_pointer_cast<ChecksumStatusData>(outcome_.Failure().data);
  ASSERT_TRUE(checksum);
  EXPECT_EQ(checksum->ToTransferError(), TransferError::ChecksumMismatch);
  EXPECT_EQ(Disk(), std::string(kChunk, '\0'));
}

// A list of 20,000 nodes, every one at a server that fails every request (or,
// with the parameter, sends wrong bytes every time): the chunk is reported
// once the retries the node count adds reach their cap (16 by default), not
// after a request to every node, whichever budget runs out.
class LongNodeListTest : public ChunkRequestTest, public ::testing::WithParamInterface<bool> {};

TEST_P(LongNodeListTest, RetriesStopAtTheCap) {
  MakeNodes(1);
  UseNodeList(std::vector<std::string>(20000, nodes_[0]->Host()));
  const bool wrongBytes = GetParam();
  if (wrongBytes) {
    nodes_[0]->SetCorrupt(kPath, 3);
  } else {
    nodes_[0]->SetStatuses(kPath, std::vector<int>(100, 503));
  }
  Start(0, 0);
  ASSERT_TRUE(outcome_.WaitEnd());
  ASSERT_TRUE(WaitIdle());
  ASSERT_EQ(outcome_.Suspensions(), 1);
  EXPECT_EQ(Requests(0), 17);
  EXPECT_EQ(std::dynamic_pointer_cast<ChecksumStatusData>(outcome_.Failure().data) != nullptr,
            wrongBytes);
}

INSTANTIATE_TEST_SUITE_P(FailedRequestsOrWrongBytes, LongNodeListTest, ::testing::Bool());

// ---------------------------------------------------------------------------
// Cancelled requests

TEST_F(ChunkRequestTest, APausedRequestStopsWritesNothingAndIsNeitherBlamedNorRetried) {
  MakeNodes(2);
  nodes_[0]->SetThrottle(kPath, 2048);  // the whole chunk would take most of a minute
  optimizer_.Prefer(nodes_[0]->Host());
  Start(4, 4);
  ASSERT_TRUE(WaitReceiving());
  ASSERT_TRUE(workflow_->Pause());
  ASSERT_TRUE(WaitIdle()) << "the paused request did not stop";
  EXPECT_FALSE(outcome_.RootDone());
  EXPECT_EQ(outcome_.Suspensions(), 0);
  EXPECT_EQ(Requests(0), 1);
  EXPECT_EQ(Requests(1), 0);
  EXPECT_TRUE(optimizer_.Reported().empty());  // nothing learnt from it
  EXPECT_GE(optimizer_.Released(), 1);
  EXPECT_EQ(Statistics(0)->GetErrors(), 0u);
  EXPECT_EQ(Chunk().badNodeMask, 0u);
  EXPECT_EQ(Disk(), std::string(kChunk, '\0'));

  // Resumed, the chunk goes to the same node again: the cancelled request
  // did not take it out of the rotation.
  nodes_[0]->SetThrottle(kPath, 0);
  ASSERT_TRUE(workflow_->Resume());
  ASSERT_TRUE(outcome_.WaitEnd());
  ASSERT_TRUE(outcome_.RootDone());
  EXPECT_EQ(outcome_.RootStatus().result, WorkResult::Success);
  EXPECT_EQ(Requests(0), 2);
  EXPECT_EQ(Requests(1), 0);
  EXPECT_EQ(Disk(), body_);
}

TEST_F(ChunkRequestTest, ACancelledTransferStopsItsRequestAndWritesNothing) {
  MakeNodes(2);
  for (auto& node : nodes_) node->SetThrottle(kPath, 2048);
  Start(4, 4);
  ASSERT_TRUE(WaitReceiving());
  ASSERT_TRUE(workflow_->Cancel(WorkStatus(WorkResult::Interrupted, nullptr)));
  ASSERT_TRUE(WaitIdle()) << "the cancelled request did not stop";
  ASSERT_TRUE(outcome_.RootDone());
  EXPECT_EQ(outcome_.RootStatus().result, WorkResult::Interrupted);
  EXPECT_EQ(outcome_.Suspensions(), 0);
  EXPECT_EQ(Requests(0) + Requests(1), 1);  // not retried elsewhere
  EXPECT_TRUE(optimizer_.Reported().empty());
  EXPECT_EQ(Statistics(0)->GetErrors(), 0u);
  EXPECT_EQ(Disk(), std::string(kChunk, '\0'));
}

TEST_F(ChunkRequestTest, TheLosingRequestOfATailPairIsCancelledAndCountedAsWaste) {
  tail_ = std::make_shared<TailRequestTracker>();
  MakeNodes(2);
  // The first request's node would send wrong bytes, slowly.
  nodes_[0]->SetThrottle(kPath, 2048);
  nodes_[0]->SetCorrupt(kPath, 10);
  optimizer_.Prefer(nodes_[0]->Host());
  Start(4, 4);
  ASSERT_TRUE(WaitReceiving());

  // A second copy of the chunk wins, as the tail request would commit it.
  auto copy = std::make_shared<BufferedChunkData>(fileData_->file, 0, kChunk - 1,
                                                  buffers_.Acquire(kChunk), false);
  copy->Write(body_.data(), static_cast<std::uint32_t>(body_.size()));
  ASSERT_TRUE(Chunk().Matches(*copy));
  ASSERT_TRUE(Chunk().CommitVerified(*copy));
  tail_->Verified(Chunk());

  ASSERT_TRUE(outcome_.WaitEnd()) << "the losing request did not stop";
  ASSERT_TRUE(WaitIdle());
  ASSERT_TRUE(outcome_.RootDone());
  EXPECT_EQ(outcome_.RootStatus().result, WorkResult::Success);
  EXPECT_EQ(outcome_.Suspensions(), 0);
  EXPECT_EQ(Requests(0), 1);
  EXPECT_EQ(Requests(1), 0);
  EXPECT_TRUE(optimizer_.Reported().empty());
  EXPECT_EQ(optimizer_.ChecksumFailures(), 0);
  EXPECT_EQ(Statistics(0)->GetErrors(), 0u);
  EXPECT_EQ(Chunk().badNodeMask, 0u);
  EXPECT_GT(tail_->GetWastedBytes(), 0u);
  EXPECT_LT(tail_->GetWastedBytes(), kChunk);
  EXPECT_EQ(Disk(), body_);  // the winner's bytes, none of the loser's
}

TEST_F(ChunkRequestTest, ARequestThatStalledAndLostCountsAgainstItsNode) {
  tail_ = std::make_shared<TailRequestTracker>();
  MakeNodes(2);
  nodes_[0]->SetThrottle(kPath, 1);  // headers, then next to nothing
  optimizer_.Prefer(nodes_[0]->Host());
  Start(4, 4);
  ASSERT_TRUE(test::Eventually([&] { return Requests(0) == 1; }, kBound));

  // The tracker judges the request stalled (another chunk showed how long
  // chunks take here), and a second copy from elsewhere wins.
  const TailRequestTracker::Stage stage{{"f.bin", kChunk}, {"other.bin", 1}};
  auto other = std::make_shared<TransferSharedFileData>("other.bin", 1);
  auto done = std::make_shared<TransferSharedMapData>(other, 0, 0, 0, nullptr);
  tail_->Started(done, nullptr, nullptr, stage);
  tail_->Verified(*done);
  const std::uint32_t later = TickCount() + 60000;
  ASSERT_TRUE(test::Eventually([&] { return tail_->TakeStraggler(stage, later).chunk != nullptr; },
                               kBound));
  auto copy = std::make_shared<BufferedChunkData>(fileData_->file, 0, kChunk - 1,
                                                  buffers_.Acquire(kChunk), false);
  copy->Write(body_.data(), static_cast<std::uint32_t>(body_.size()));
  ASSERT_TRUE(Chunk().CommitVerified(*copy));
  tail_->Verified(Chunk());

  ASSERT_TRUE(outcome_.WaitEnd()) << "the stalled request did not stop";
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(outcome_.RootStatus().result, WorkResult::Success);
  EXPECT_EQ(Requests(0), 1);
  // Unlike a request that merely lost a race, this one is the node's failure.
  EXPECT_EQ(Statistics(0)->GetErrors(), 1u);
  ASSERT_EQ(optimizer_.Reported().size(), 1u);
  EXPECT_NE(optimizer_.Reported().front(), HttpRequestResult::Success);
  EXPECT_EQ(Chunk().badNodeMask, 0u);  // slow is not wrong
  EXPECT_EQ(Disk(), body_);
}

TEST_F(ChunkRequestTest, StalledRequestsAreRequestedAgainWhenNoOtherChunkIsLeftToEnd) {
  // Both chunks of the only file go to node 0, which sends the headers and
  // then next to nothing. No other chunk exists whose pipeline could end and
  // look for stragglers: the request that begins the tail must start the
  // second requests itself. Each chunk then comes from node 1, and the
  // stalled requests are cancelled long before their limits.
  tail_ = std::make_shared<TailRequestTracker>();
  MakeNodes(2);
  const std::string contents = Bytes(2 * kChunk, 9);
  for (auto& node : nodes_) node->SetBody(kPath, contents);
  nodes_[0]->SetThrottle(kPath, 1);
  optimizer_.Prefer(nodes_[0]->Host());
  StartFile(contents);
  ASSERT_TRUE(outcome_.WaitEnd()) << "the stalled requests held the end";
  ASSERT_TRUE(WaitIdle()) << "a stalled request was not stopped";
  ASSERT_TRUE(outcome_.RootDone());
  EXPECT_EQ(outcome_.RootStatus().result, WorkResult::Success);
  EXPECT_EQ(outcome_.Suspensions(), 0);
  EXPECT_EQ(Requests(0), 2);
  EXPECT_EQ(Requests(1), 2);  // one second request per chunk, no more
  EXPECT_EQ(tail_->GetVerifiedBytes(), 2 * kChunk);
  EXPECT_LT(tail_->GetWastedBytes(), kChunk);  // the few bytes the stalled requests got
  EXPECT_EQ(Disk(), contents);
}

}  // namespace
}  // namespace velmo
