// The transfer state machine driven directly: its operations from the
// application's side, its handlers through the work interface, with a
// scripted workflow in place of a real work tree.
#include <gtest/gtest.h>

#include <filesystem>
#include <new>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/TempDir.h"
#include "velmo/engine/JsonTempFileManifestStore.h"
#include "velmo/engine/TransferManifest.h"
#include "velmo/file/PosixSharedFileFactory.h"
#include "velmo/http/RoundRobinHttpSessionFactory.h"
#include "velmo/manifest/StandardNodeListManifest.h"
#include "velmo/manifest/StandardPackageManifest.h"
#include "velmo/manifest/XmlManifestReader.h"
#include "velmo/telemetry/JsonWriter.h"
#include "velmo/telemetry/LogLevel.h"
#include "velmo/telemetry/TrackEventWork.h"
#include "velmo/telemetry/WorkLogManager.h"
#include "velmo/transfer/StoredTransfer.h"
#include "velmo/transfer/TransferErrorData.h"
#include "velmo/transfer/TransferOutcome.h"
#include "velmo/transfer/TransferProgressUpdater.h"
#include "velmo/transfer/TransferWorkflowFactory.h"
#include "velmo/transfer/works/NodeListStatusData.h"
#include "velmo/transfer/works/PackageStatusData.h"
#include "velmo/work/WorkStatus.h"
#include "velmo/work/Workflow.h"

namespace velmo {
namespace {

namespace fs = std::filesystem;

// Records what the transfer asks of its workflow; every request succeeds
// except a second Start.
class FakeWorkflow : public Workflow {
 public:
  bool Start() override {
    ++starts;
    if (started) return false;
    started = true;
    return true;
  }
  bool Pause() override {
    ++pauses;
    return true;
  }
  bool Resume() override {
    ++resumes;
    return true;
  }
  bool ResumeSuspended() override {
    ++resumeSuspended;
    return true;
  }
  WorkflowState GetState() override { return WorkflowState::Running; }
  bool IsStarted() override { return started; }
  bool IsPaused() override { return false; }
  bool IsSuspended() override { return false; }
  bool IsFinished() override { return false; }
  bool Cancel(const WorkStatus& status) override {
    canceledWith = std::make_shared<WorkStatus>(status);
    return true;
  }
  void AddRetryableErrorCallback(WorkflowRetryableErrorCallback* callback) override {
    retryCallback = callback;
  }
  void Execute(std::shared_ptr<SimpleWork>) override {}
  void DispatchQueued() override {}
  void OnSimpleWorkExecuted(std::shared_ptr<SimpleWork>, const WorkStatus&) override {}
  void OnWorkComplete(std::shared_ptr<const Work>, const WorkStatus&) override {}

  bool started = false;
  int starts = 0, pauses = 0, resumes = 0, resumeSuspended = 0;
  std::shared_ptr<WorkStatus> canceledWith;
  WorkflowRetryableErrorCallback* retryCallback = nullptr;
};

class FakeWorkflowFactory : public TransferWorkflowFactory {
 public:
  std::shared_ptr<Workflow> Create(std::shared_ptr<TransferWorkInterface>) override {
    made.push_back(std::make_shared<FakeWorkflow>());
    return made.back();
  }
  std::vector<std::shared_ptr<FakeWorkflow>> made;
};

// Keeps the state changes a transfer logs, as "from->to", and their level.
class StateChangeLog : public WorkLogManager {
 public:
  StateChangeLog() : WorkLogManager(0xFFFFFFFFu, "logs", nullptr, 1) {}
  ~StateChangeLog() override { JoinWorkManager(); }
  class Record : public TrackEventWork {
   public:
    using TrackEventWork::TrackEventWork;
    void Describe(boost::property_tree::ptree&) const override {}
    void Reset() override {}
    WorkStatus ExecuteTask() override { return WorkStatus(WorkResult::Success, nullptr); }
  };
  std::shared_ptr<TrackEventWork> CreateEvent(std::int32_t level) override {
    return std::make_shared<Record>(level);
  }
  void Submit(std::shared_ptr<SimpleWork> work) override {
    auto record = std::dynamic_pointer_cast<Record>(work);
    ASSERT_TRUE(record);
    const auto& tree = record->GetTree();
    if (tree.get<std::string>("event", "") != "TransferStateChange") return;
    std::lock_guard<std::mutex> lock(mutex);
    levels.push_back(record->GetCategory());
    changes.push_back(tree.get<std::string>("from") + "->" + tree.get<std::string>("to"));
    transferIds.push_back(tree.get<std::string>("transferId"));
  }
  void OnWorkComplete(std::shared_ptr<const Work>, const WorkStatus&) override {}
  void OnSimpleWorkRetry(std::shared_ptr<const SimpleWork>, const WorkStatus&) override {}

  std::mutex mutex;
  std::vector<std::int32_t> levels;
  std::vector<std::string> changes;
  std::vector<std::string> transferIds;
};

// A transfer whose transition point the tests may call directly.
class OpenTransfer : public StandardTransfer {
 public:
  using StandardTransfer::StandardTransfer;
  bool Change(TransferState to) {
    Lock lock(*mutex_);
    return ChangeState(to).changed;
  }
};

std::shared_ptr<PackageManifest> Package(const std::string& partner, const std::string& id) {
  std::istringstream xml("<package id=\"" + id + "\" name=\"N\" partnerId=\"" + partner +
                         "\" versionId=\"2.0\" run=\"a\"><files>"
                         "<file path=\"a\" chunksize=\"4\" size=\"6\" checksums=\"00000001"
                         "00000002\"/></files></package>");
  boost::property_tree::ptree tree;
  ReadXmlManifest(xml, tree);
  auto manifest = std::make_shared<StandardPackageManifest>();
  manifest->Parse(tree);
  return manifest;
}

std::shared_ptr<NodeListManifest> Nodes() {
  std::istringstream xml(
      R"(<ArrayOfNodeInfo><NodeInfo NodeId="n1" Host="h1" Weight="3"/></ArrayOfNodeInfo>)");
  boost::property_tree::ptree tree;
  ReadXmlManifest(xml, tree);
  auto manifest = std::make_shared<StandardNodeListManifest>();
  manifest->Parse(tree);
  return manifest;
}

WorkStatus Success(std::shared_ptr<WorkStatusData> data = nullptr) {
  return WorkStatus(WorkResult::Success, std::move(data));
}

class StandardTransferTest : public ::testing::Test {
 protected:
  StandardTransferTest() {
    behavior_.sessionFactory = &sessions_;
    behavior_.sharedFileFactory = &files_;
    params_.transferId = "t1";
    params_.partnerId = "p";
    params_.packageId = "k";
  }

  std::shared_ptr<StoredTransfer> Make(TransferParams params) {
    return std::make_shared<StoredTransfer>(params, behavior_, &workflows_, &store_);
  }

  // Reports both manifests and the end of initialization, as the work tree does.
  static void Initialize(Transfer& transfer, std::shared_ptr<PackageManifest> package = nullptr) {
    auto face = transfer.GetWorkInterface();
    face->GetPackageAcquireCallback()->OnWorkComplete(
        nullptr,
        Success(std::make_shared<PackageStatusData>(package ? package : Package("p", "k"))));
    face->GetNodeListAcquireCallback()->OnWorkComplete(
        nullptr, Success(std::make_shared<NodeListStatusData>(Nodes())));
    face->GetInitializeCallback()->OnWorkComplete(nullptr, Success());
  }

  static void Progress(Transfer& transfer, std::uint64_t bytes) {
    auto updater = transfer.GetWorkInterface()->GetProgressUpdater();
    updater->AddDownloaded(bytes);
    updater->AddProgress(bytes);
    updater->AddVerified(bytes);
  }

  static std::string FailureMessage(const FakeWorkflow& workflow) {
    if (!workflow.canceledWith) return "(workflow not canceled)";
    auto data = std::dynamic_pointer_cast<TransferErrorData>(workflow.canceledWith->data);
    if (!data) return "(no error data)";
    // "error|<code>|<message>": the message is what the transfer wrote.
    const std::string text = data->GetMessage();
    return text.substr(text.find('|', text.find('|') + 1) + 1);
  }

  test::TempDir temp_;
  RoundRobinHttpSessionFactory sessions_;
  PosixSharedFileFactory files_;
  TransferBehavior behavior_;
  FakeWorkflowFactory workflows_;
  JsonTempFileManifestStore<TransferManifest> store_{"velmo-test/transfers", &files_};
  TransferParams params_;
};

TEST_F(StandardTransferTest, InitializeStartAndCompleteInOrder) {
  auto transfer = Make(params_);
  ASSERT_EQ(workflows_.made.size(), 1u);
  FakeWorkflow& workflow = *workflows_.made[0];
  EXPECT_EQ(workflow.retryCallback, transfer->GetWorkInterface()->GetRetryableErrorCallback());

  EXPECT_EQ(transfer->Start(temp_ / "dest").state, TransferState::Initializing);  // too early
  TransferManifest notStored;
  EXPECT_FALSE(store_.Load("t1", notStored));  // a refused start stores nothing
  EXPECT_EQ(transfer->Initialize().state, TransferState::Initializing);
  EXPECT_EQ(workflow.starts, 1);
  transfer->Initialize();  // refused: the workflow is running already
  EXPECT_EQ(workflow.starts, 2);

  EXPECT_EQ(transfer->Pause().state, TransferState::InitializingPaused);
  EXPECT_EQ(transfer->Resume().state, TransferState::Initializing);

  EXPECT_EQ(transfer->GetWorkInterface()->GetPackage(), nullptr);
  Initialize(*transfer);
  TransferStatus status = transfer->GetStatus();
  EXPECT_EQ(status.state, TransferState::Initialized);
  EXPECT_EQ(status.versionId, "2.0");
  EXPECT_EQ(status.totalBytes, 6u);
  EXPECT_NE(transfer->GetWorkInterface()->GetPackage(), nullptr);
  EXPECT_EQ(workflow.pauses, 2);  // the manual pause and the one after initialization
  EXPECT_TRUE(transfer->HasEnoughDiskSpace(temp_ / ""));

  EXPECT_EQ(transfer->Pause().state, TransferState::Initialized);    // refused
  EXPECT_EQ(transfer->Start("").state, TransferState::Initialized);  // no destination
  status = transfer->Start(temp_ / "dest");
  EXPECT_EQ(status.state, TransferState::Transferring);
  EXPECT_EQ(status.destPath, temp_ / "dest");
  EXPECT_EQ(workflow.resumes, 2);
  EXPECT_FALSE(transfer->HasEnoughDiskSpace(temp_ / ""));  // only while Initialized

  // The start stored the transfer for a later run.
  TransferManifest stored;
  ASSERT_TRUE(store_.Load("t1", stored));
  EXPECT_EQ(stored.params.destPath, temp_ / "dest");
  EXPECT_EQ(stored.params.versionId, "2.0");

  Progress(*transfer, 6);
  transfer->GetWorkInterface()->GetWorkCompleteCallback()->OnWorkComplete(nullptr, Success());
  status = transfer->GetStatus();
  EXPECT_EQ(status.state, TransferState::Completed);
  EXPECT_EQ(status.error, TransferError::None);
  EXPECT_EQ(status.runPath, "a");
  EXPECT_EQ(workflow.pauses, 3);  // released
}

TEST_F(StandardTransferTest, ContradictoryReportsFailWithTheirMessage) {
  {
    auto transfer = Make(params_);
    transfer->Initialize();
    Initialize(*transfer, Package("p", "other"));
    const TransferStatus status = transfer->GetStatus();
    EXPECT_EQ(status.error, TransferError::ManifestError);
    EXPECT_FALSE(status.retryable);
    EXPECT_EQ(FailureMessage(*workflows_.made.back()),
              "Transfer::OnPackageAcquire called but package does not match ids");
    // Final: later reports change nothing.
    Initialize(*transfer);
    EXPECT_EQ(transfer->GetStatus().state, TransferState::Initializing);
  }
  {
    auto transfer = Make(params_);
    transfer->Initialize();
    Initialize(*transfer);
    transfer->Start(temp_ / "d");
    Progress(*transfer, 4);  // two bytes missing
    transfer->GetWorkInterface()->GetWorkCompleteCallback()->OnWorkComplete(nullptr, Success());
    EXPECT_EQ(transfer->GetStatus().error, TransferError::UnexpectedError);
    EXPECT_EQ(FailureMessage(*workflows_.made.back()),
              "Transfer::OnWorkComplete called with Success result but progress is not complete");
  }
  {
    auto transfer = Make(params_);
    transfer->Initialize();
    transfer->GetWorkInterface()->GetInitializeCallback()->OnWorkComplete(nullptr, Success());
    EXPECT_EQ(FailureMessage(*workflows_.made.back()),
              "Transfer::OnInitialize called but package is missing");
  }
  {
    auto transfer = Make(params_);
    transfer->Initialize();
    transfer->GetWorkInterface()->GetPackageAcquireCallback()->OnWorkComplete(nullptr, Success());
    EXPECT_EQ(FailureMessage(*workflows_.made.back()),
              "Transfer::OnPackageAcquire called but data is not PackageStatusData or package is "
              "null");
  }
  {
    // An exception that escaped a work's completion chain (the work manager
    // cancels the tree with it) is an unexpected error, recorded with its text.
    auto transfer = Make(params_);
    transfer->Initialize();
    transfer->GetWorkInterface()->GetWorkCompleteCallback()->OnWorkComplete(
        nullptr,
        WorkStatus(WorkResult::Fatal, std::make_shared<WorkExceptionData>(
                                          std::make_exception_ptr(std::out_of_range("map::at")))));
    EXPECT_EQ(transfer->GetStatus().error, TransferError::UnexpectedError);
    EXPECT_EQ(FailureMessage(*workflows_.made.back()),
              "Transfer::OnWorkComplete: an exception escaped a work: map::at");
    // Memory that ran out is that, wherever it was thrown.
    auto starved = Make(params_);
    starved->Initialize();
    starved->GetWorkInterface()->GetWorkCompleteCallback()->OnWorkComplete(
        nullptr, WorkStatus(WorkResult::Fatal, std::make_shared<WorkExceptionData>(
                                                   std::make_exception_ptr(std::bad_alloc()))));
    EXPECT_EQ(starved->GetStatus().error, TransferError::OutOfMemory);
  }
  {
    // A failed work's own error ends the transfer with that error.
    auto transfer = Make(params_);
    transfer->Initialize();
    transfer->GetWorkInterface()->GetWorkCompleteCallback()->OnWorkComplete(
        nullptr, WorkStatus(WorkResult::Fatal,
                            MakeTransferErrorData(TransferError::ChecksumMismatch, "bad")));
    EXPECT_EQ(transfer->GetStatus().error, TransferError::ChecksumMismatch);
    EXPECT_EQ(workflows_.made.back()->canceledWith, nullptr);  // released, not canceled
  }
}

TEST_F(StandardTransferTest, RetryableErrorsWaitForRetry) {
  auto transfer = Make(params_);
  transfer->Initialize();
  Initialize(*transfer);
  transfer->Start(temp_ / "d");
  FakeWorkflow& workflow = *workflows_.made[0];
  const auto face = transfer->GetWorkInterface();
  const WorkStatus failure(WorkResult::RetryableError,
                           MakeTransferErrorData(TransferError::ConnectionError, "down"));
  face->GetRetryableErrorCallback()->OnWorkflowRetryableError(workflows_.made[0], nullptr, failure);
  TransferStatus status = transfer->GetStatus();
  EXPECT_EQ(status.state, TransferState::Transferring);
  EXPECT_EQ(status.error, TransferError::ConnectionError);
  EXPECT_TRUE(status.retryable);
  EXPECT_FALSE(IsFinal(status));

  status = transfer->Retry();
  EXPECT_EQ(status.error, TransferError::None);
  EXPECT_EQ(workflow.resumeSuspended, 1);
  EXPECT_EQ(transfer->Retry().error, TransferError::None);  // nothing to retry
  EXPECT_EQ(workflow.resumeSuspended, 1);

  // A report from some other workflow is a contradiction.
  face->GetRetryableErrorCallback()->OnWorkflowRetryableError(std::make_shared<FakeWorkflow>(),
                                                              nullptr, failure);
  EXPECT_EQ(transfer->GetStatus().error, TransferError::UnexpectedError);
  EXPECT_EQ(FailureMessage(workflow),
            "Transfer::OnWorkflowRetryableError called on wrong workflow");
}

TEST_F(StandardTransferTest, CancelRemovesCreatedFilesAndTheStoredManifest) {
  auto transfer = Make(params_);
  transfer->Initialize();
  Initialize(*transfer);
  const std::string dest = temp_ / "d";
  transfer->Start(dest);
  fs::create_directories(dest);
  std::ofstream(dest + "/a") << "x";
  std::ofstream(dest + "/b") << "y";
  transfer->GetWorkInterface()->RegisterFile("a");
  transfer->GetWorkInterface()->RegisterFile("b");
  EXPECT_TRUE(fs::exists(temp_ / "velmo-test/transfers/t1.json"));

  EXPECT_EQ(transfer->Cancel(true).state, TransferState::Canceled);
  EXPECT_FALSE(fs::exists(dest + "/a"));
  EXPECT_FALSE(fs::exists(dest + "/b"));
  EXPECT_FALSE(fs::exists(temp_ / "velmo-test/transfers/t1.json"));
  // A file a late work creates afterwards goes at once.
  std::ofstream(dest + "/c") << "z";
  transfer->GetWorkInterface()->RegisterFile("c");
  EXPECT_FALSE(fs::exists(dest + "/c"));
}

TEST_F(StandardTransferTest, SuspendAndRestore) {
  {
    // Never started: suspending cancels.
    auto transfer = Make(params_);
    transfer->Initialize();
    Initialize(*transfer);
    EXPECT_EQ(transfer->Suspend().state, TransferState::Canceled);
  }
  auto transfer = Make(params_);
  transfer->Initialize();
  Initialize(*transfer);
  transfer->Start(temp_ / "d");
  Progress(*transfer, 4);
  const auto oldFace = transfer->GetWorkInterface();
  TransferStatus status = transfer->Suspend();
  EXPECT_EQ(status.state, TransferState::Suspended);
  EXPECT_EQ(status.progressBytes, 0u);  // a fresh incarnation
  EXPECT_NE(transfer->GetWorkInterface(), oldFace);
  EXPECT_EQ(transfer->GetWorkInterface()->GetParams().restored, 1);
  // Late reports of the old tree reach nothing.
  oldFace->GetWorkCompleteCallback()->OnWorkComplete(
      nullptr, WorkStatus(WorkResult::Fatal, MakeTransferErrorData(TransferError::FileError, "")));
  EXPECT_EQ(transfer->GetStatus().error, TransferError::None);
  // A clean suspension keeps the stored manifest even through Cancel.
  EXPECT_EQ(transfer->Cancel(false).state, TransferState::Suspended);
  EXPECT_TRUE(fs::exists(temp_ / "velmo-test/transfers/t1.json"));

  status = transfer->Restore();
  EXPECT_EQ(status.state, TransferState::Initializing);
  ASSERT_EQ(workflows_.made.size(), 3u);
  EXPECT_EQ(workflows_.made[2]->starts, 1);
  Initialize(*transfer);
  // The destination is known: an empty folder starts it there.
  status = transfer->Start("");
  EXPECT_EQ(status.state, TransferState::Transferring);
  EXPECT_EQ(status.destPath, temp_ / "d");
  EXPECT_EQ(transfer->Start(temp_ / "elsewhere").state, TransferState::Transferring);

  // A restored transfer built from storage starts out suspended.
  TransferParams restored = params_;
  restored.restored = 1;
  EXPECT_EQ(Make(restored)->GetStatus().state, TransferState::Suspended);
}

TEST_F(StandardTransferTest, CompletedTransferSuspendsQuietlyAndNodeStatistics) {
  auto transfer = Make(params_);
  EXPECT_EQ(transfer->GetNodeStatistics(), "[]");
  transfer->Initialize();
  Initialize(*transfer);
  const std::string statistics = transfer->GetNodeStatistics();
  EXPECT_EQ(statistics.front(), '[');
  EXPECT_NE(statistics.find("h1"), std::string::npos) << statistics;
  transfer->Start(temp_ / "d");
  Progress(*transfer, 6);
  transfer->GetWorkInterface()->GetWorkCompleteCallback()->OnWorkComplete(nullptr, Success());
  EXPECT_EQ(transfer->Suspend().state, TransferState::Suspended);
}

}  // namespace
}  // namespace velmo

namespace velmo {
namespace {

TEST_F(StandardTransferTest, EveryStateChangeIsLoggedFromToAtTheVerboseLevel) {
  StateChangeLog log;
  behavior_.workLog = &log;
  auto transfer = Make(params_);
  transfer->Initialize();
  transfer->Pause();
  transfer->Resume();
  transfer->Pause();  // initialization ends while paused
  Initialize(*transfer);
  transfer->Start(temp_ / "dest");
  transfer->Pause();
  transfer->Resume();
  transfer->Pause();  // refused twice: no record
  transfer->Pause();
  Progress(*transfer, 6);
  transfer->GetWorkInterface()->GetWorkCompleteCallback()->OnWorkComplete(nullptr, Success());
  transfer->Suspend();
  transfer->Restore();
  transfer->Cancel(false);

  std::lock_guard<std::mutex> lock(log.mutex);
  EXPECT_EQ(log.changes, (std::vector<std::string>{
                             "Initializing->InitializingPaused",
                             "InitializingPaused->Initializing",
                             "Initializing->InitializingPaused",
                             "InitializingPaused->Initialized",
                             "Initialized->Transferring",
                             "Transferring->TransferringPaused",
                             "TransferringPaused->Transferring",
                             "Transferring->TransferringPaused",
                             "TransferringPaused->Completed",
                             "Completed->Suspended",
                             "Suspended->Initializing",
                             "Initializing->Canceled",
                         }));
  for (std::int32_t level : log.levels) {
    // Verbose: written only when the mask asks for the ordinary completions.
    EXPECT_FALSE(LogLevelPasses(static_cast<std::uint32_t>(level), kDefaultLogMask));
  }
  for (const std::string& id : log.transferIds) EXPECT_EQ(id, "t1");
}

TEST_F(StandardTransferTest, RestoredTransferStartsSuspendedAndLogsIt) {
  StateChangeLog log;
  behavior_.workLog = &log;
  TransferParams params = params_;
  params.restored = 1;
  auto transfer = Make(params);
  EXPECT_EQ(transfer->GetStatus().state, TransferState::Suspended);
  std::lock_guard<std::mutex> lock(log.mutex);
  EXPECT_EQ(log.changes, std::vector<std::string>{"Initializing->Suspended"});
}

TEST_F(StandardTransferTest, TransitionOutsideTheTableIsALogicErrorThatChangesNothing) {
  StateChangeLog log;
  behavior_.workLog = &log;
  OpenTransfer transfer(params_, behavior_, &workflows_);
  EXPECT_THROW(transfer.Change(TransferState::Completed), std::logic_error);
  EXPECT_THROW(transfer.Change(TransferState::Invalid), std::logic_error);
  EXPECT_EQ(transfer.GetStatus().state, TransferState::Initializing);
  EXPECT_FALSE(transfer.Change(TransferState::Initializing));  // already there
  EXPECT_TRUE(transfer.Change(TransferState::Canceled));
  EXPECT_THROW(transfer.Change(TransferState::Transferring), std::logic_error);
  EXPECT_EQ(transfer.GetStatus().state, TransferState::Canceled);
  std::lock_guard<std::mutex> lock(log.mutex);
  EXPECT_EQ(log.changes, std::vector<std::string>{"Initializing->Canceled"});
}

TEST_F(StandardTransferTest, ManifestsArriveThroughTheirTypedOutcomes) {
  auto transfer = Make(params_);
  transfer->Initialize();
  auto face = transfer->GetWorkInterface();
  // A success without the typed payload is an inconsistency of the tree.
  face->GetNodeListAcquireCallback()->OnWorkComplete(
      nullptr, TransferOutcome::PackageAcquired(Package("p", "k")));
  const TransferStatus status = transfer->GetStatus();
  EXPECT_EQ(status.error, TransferError::UnexpectedError);
  EXPECT_EQ(FailureMessage(*workflows_.made[0]),
            "Transfer::OnNodeListAcquire called but data is not NodeListStatusData or nodelist is "
            "null");

  auto second = Make(params_);
  second->Initialize();
  face = second->GetWorkInterface();
  face->GetPackageAcquireCallback()->OnWorkComplete(
      nullptr, TransferOutcome::PackageAcquired(Package("p", "k")));
  face->GetNodeListAcquireCallback()->OnWorkComplete(nullptr,
                                                     TransferOutcome::NodeListAcquired(Nodes()));
  face->GetInitializeCallback()->OnWorkComplete(nullptr, Success());
  EXPECT_EQ(second->GetStatus().state, TransferState::Initialized);
  EXPECT_EQ(second->GetStatus().versionId, "2.0");
}

}  // namespace
}  // namespace velmo
