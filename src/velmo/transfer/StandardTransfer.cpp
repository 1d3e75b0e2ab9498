#include "velmo/transfer/StandardTransfer.h"

#include <sys/statvfs.h>

#include <boost/property_tree/ptree.hpp>
#include <filesystem>
#include <new>
#include <system_error>

#include "velmo/engine/UnspecifiedVersion.h"
#include "velmo/file/SharedFileFactory.h"
#include "velmo/manifest/FileManifest.h"
#include "velmo/manifest/NodeListManifest.h"
#include "velmo/manifest/NodeManifest.h"
#include "velmo/manifest/PackageManifest.h"
#include "velmo/optimizer/NodeStatistics.h"
#include "velmo/optimizer/TransferOptimizer.h"
#include "velmo/platform/System.h"
#include "velmo/telemetry/JsonWriter.h"
#include "velmo/telemetry/LogLevel.h"
#include "velmo/telemetry/TrackEventWork.h"
#include "velmo/telemetry/WorkLogManager.h"
#include "velmo/transfer/TransferErrorData.h"
#include "velmo/transfer/TransferEvent.h"
#include "velmo/transfer/TransferEvents.h"
#include "velmo/transfer/TransferOutcome.h"
#include "velmo/transfer/TransferPeriodicEvent.h"
#include "velmo/transfer/TransferStateTable.h"
#include "velmo/transfer/TransferStatusData.h"
#include "velmo/transfer/TransferStatusImpl.h"
#include "velmo/transfer/TransferWorkflowFactory.h"
#include "velmo/work/WorkStatus.h"
#include "velmo/work/Workflow.h"

namespace velmo {
namespace {

// Memory that ran out anywhere is OutOfMemory, escaped or not.
TransferError ErrorOf(const WorkExceptionData& data) {
  try {
    data.Rethrow();
  } catch (const std::bad_alloc&) {
    return TransferError::OutOfMemory;
  } catch (...) {
  }
  return TransferError::UnexpectedError;
}

std::string WhatOf(const WorkExceptionData& data) {
  try {
    data.Rethrow();
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
  }
  return data.GetMessage();
}

}  // namespace

StandardTransfer::StandardTransfer(const TransferParams& params, const TransferBehavior& behavior,
                                   TransferWorkflowFactory* workflowFactory)
    : mutex_(std::make_shared<std::recursive_mutex>()), workflowFactory_(workflowFactory) {
  Lock lock(*mutex_);
  data_ = std::make_shared<StandardTransferData>(params, behavior);
  workInterface_ = std::make_shared<StandardTransferWorkInterface>(this, mutex_, data_);
  CreateWorkflow();
  if (params.restored != 0) {
    // Loaded from storage: waits for Restore. Nothing is announced; the
    // transfer was suspended in an earlier run.
    ChangeState(TransferState::Suspended, false);
  }
}

StandardTransfer::~StandardTransfer() {
  // Works of this transfer may still be queued on the pool; from now on their
  // reports reach nothing.
  std::shared_ptr<Workflow> workflow;
  {
    Lock lock(*mutex_);
    workInterface_->Deactivate();
    workflow.swap(workflow_);
  }
  if (workflow) workflow->Pause();
}

// ---------------------------------------------------------------------------
// Helpers

bool StandardTransfer::IsFinal() const {
  const TransferState state = data_->status->GetState();
  return state == TransferState::Invalid || state == TransferState::Suspended ||
         state == TransferState::Completed || state == TransferState::Canceled ||
         (data_->status->GetError() != TransferError::None && !data_->status->IsRetryable());
}

TransferStatus StandardTransfer::Snapshot() {
  return data_->status->GetStatus(data_->CopyParams());
}

TransferEventContext StandardTransfer::Context() const {
  return TransferEventContext{data_->CopyParams(), data_->behavior, data_->LoadNodeList()};
}

TransferStatus StandardTransfer::Emit(Lock& lock, std::unique_ptr<TransferEvent> event) {
  TransferStatus status = Snapshot();
  lock.unlock();
  if (event) event->Dispatch();
  return status;
}

StandardTransfer::StateChange StandardTransfer::ChangeState(TransferState to, bool announce) {
  StateChange change;
  const TransferState from = data_->status->GetState();
  if (from == to) return change;
  using Announcement = TransferStateTable::Announcement;
  const Announcement announcement = TransferStateTable::Check(from, to);
  if (announce) {
    TransferStatusImpl& status = *data_->status;
    switch (announcement) {
      case Announcement::None:
        break;
      case Announcement::Pause:
        change.event = std::make_unique<TransferPauseEvent>(Context());
        break;
      case Announcement::Resume:
        change.event = std::make_unique<TransferResumeEvent>(Context());
        break;
      case Announcement::InitializeComplete:
        change.event = std::make_unique<TransferInitializeCompleteEvent>(Context());
        break;
      case Announcement::Start:
        change.event = std::make_unique<TransferStartEvent>(Context());
        break;
      case Announcement::Complete:
        change.event = std::make_unique<TransferCompleteEvent>(Context(), status);
        break;
      case Announcement::Cancel:
        change.event = std::make_unique<TransferCancelEvent>(Context(), status);
        break;
      case Announcement::Suspend:
        change.event = std::make_unique<TransferSuspendEvent>(Context(), status);
        break;
      case Announcement::Restore:
        change.event = std::make_unique<TransferRestoreEvent>(Context());
        break;
    }
  }
  data_->status->SetState(to);
  change.changed = true;
  LogStateChange(from, to);
  return change;
}

void StandardTransfer::LogStateChange(TransferState from, TransferState to) const {
  WorkLogManager* log = data_->behavior.workLog;
  if (log == nullptr) return;
  using boost::property_tree::ptree;
  // The verbose level: left out by the default mask, like the ordinary
  // completions of works.
  std::shared_ptr<TrackEventWork> work = log->CreateEvent(kLogWorkComplete);
  ptree& tree = work->GetTree();
  tree.push_back(ptree::value_type("event", ptree("TransferStateChange")));
  tree.push_back(ptree::value_type("transferId", ptree(data_->CopyParams().transferId)));
  tree.push_back(ptree::value_type("from", ptree(StateName(from))));
  tree.push_back(ptree::value_type("to", ptree(StateName(to))));
  log->Submit(std::move(work));
}

StandardTransfer::StateChange StandardTransfer::SetFinalState(TransferState state) {
  StateChange change = ChangeState(state);
  ReleaseWorkflow();
  return change;
}

void StandardTransfer::ReleaseWorkflow() {
  if (workflow_) {
    workflow_->Pause();
    workflow_.reset();
  }
}

void StandardTransfer::CreateWorkflow() {
  if (!workflow_ && workflowFactory_ != nullptr) {
    workflow_ = workflowFactory_->Create(workInterface_);
    if (workflow_) workflow_->AddRetryableErrorCallback(workInterface_.get());
  }
}

void StandardTransfer::ResetData() {
  workInterface_->Deactivate();
  data_ = std::make_shared<StandardTransferData>(data_->CopyParams(), data_->behavior,
                                                 data_->status->GetState(), data_->createdFiles);
  workInterface_ = std::make_shared<StandardTransferWorkInterface>(this, mutex_, data_);
}

bool StandardTransfer::IsProgressComplete() const {
  const auto package = data_->LoadPackage();
  if (!package) return false;
  const TransferState state = data_->status->GetState();
  if (state != TransferState::Transferring && state != TransferState::TransferringPaused) {
    return false;
  }
  if (data_->status->GetError() != TransferError::None) return false;
  const TransferStatus status = data_->status->GetStatus(data_->CopyParams());
  return status.progressBytes == status.completedBytes &&
         status.completedBytes == status.totalBytes && status.totalBytes == package->GetTotalSize();
}

void StandardTransfer::Fail(Lock& lock, const std::shared_ptr<const Work>& /*work*/,
                            const std::string& message, TransferError error) {
  data_->status->SetError(error, false, message);
  const auto payload = MakeTransferErrorData(error, message);
  auto event = std::make_unique<TransferFatalErrorEvent>(Context(), *data_->status, payload);
  std::shared_ptr<Workflow> workflow;
  workflow.swap(workflow_);
  lock.unlock();
  // The cancellation reports the root's completion back into this transfer,
  // which ignores it: the status is final now.
  if (workflow) workflow->Cancel(WorkStatus(WorkResult::Fatal, payload));
  event->Dispatch();
}

// ---------------------------------------------------------------------------
// Public operations: lock, then the locked body.

TransferStatus StandardTransfer::Initialize() {
  Lock lock(*mutex_);
  return Initialize(lock);
}

TransferStatus StandardTransfer::Start(const std::string& destinationFolder) {
  Lock lock(*mutex_);
  return Start(lock, destinationFolder);
}

TransferStatus StandardTransfer::GetStatus() {
  Lock lock(*mutex_);
  if (data_->status->IsPeriodicReportDue(data_->behavior.settings.periodicEventInterval)) {
    return Emit(lock, std::make_unique<TransferPeriodicEvent>(Context(), *data_->status));
  }
  return GetStatus(lock);
}

TransferStatus StandardTransfer::Cancel(bool deleteFiles) {
  Lock lock(*mutex_);
  return Cancel(lock, deleteFiles);
}

TransferStatus StandardTransfer::Pause() {
  Lock lock(*mutex_);
  return Pause(lock);
}

TransferStatus StandardTransfer::Resume() {
  Lock lock(*mutex_);
  return Resume(lock);
}

TransferStatus StandardTransfer::Retry() {
  Lock lock(*mutex_);
  return Retry(lock);
}

TransferStatus StandardTransfer::Suspend() {
  Lock lock(*mutex_);
  return Suspend(lock);
}

TransferStatus StandardTransfer::Restore() {
  Lock lock(*mutex_);
  return Restore(lock);
}

std::shared_ptr<TransferWorkInterface> StandardTransfer::GetWorkInterface() {
  Lock lock(*mutex_);
  return workInterface_;
}

std::string StandardTransfer::GetNodeStatistics() {
  Lock lock(*mutex_);
  const auto nodeList = data_->LoadNodeList();
  if (!nodeList || nodeList->GetNodes().empty()) return "[]";
  boost::property_tree::ptree array;
  for (const auto& node : nodeList->GetNodes()) {
    std::shared_ptr<NodeStatistics> statistics =
        data_->behavior.optimizer != nullptr ? data_->behavior.optimizer->GetStatistics(*node)
                                             : node->GetStatistics();
    boost::property_tree::ptree object;
    node->WithStatistics(statistics)->Write(object);
    array.push_back(std::make_pair(std::string(), object));
  }
  std::string json = ToJson(array);
  // The writer ends its document with a line feed; this text is a value.
  while (!json.empty() && json.back() == '\n') json.pop_back();
  return json;
}

bool StandardTransfer::HasEnoughDiskSpace(const std::string& folder) {
  Lock lock(*mutex_);
  const auto package = data_->LoadPackage();
  if (data_->status->GetState() != TransferState::Initialized || !package) return false;
  // Files already there (an earlier, interrupted run) are overwritten in place.
  std::uint64_t existing = 0;
  for (const auto& file : package->GetFiles()) {
    std::error_code error;
    const auto size = std::filesystem::file_size(JoinPath(folder, file->GetPath()), error);
    if (!error) existing += size;
  }
  struct statvfs volume {};
  if (::statvfs(folder.c_str(), &volume) != 0) return false;
  const std::uint64_t available =
      static_cast<std::uint64_t>(volume.f_bavail) * static_cast<std::uint64_t>(volume.f_frsize);
  return available + existing >= Snapshot().totalBytes;
}

// ---------------------------------------------------------------------------
// Locked bodies

TransferStatus StandardTransfer::GetStatus(Lock& /*lock*/) { return Snapshot(); }

TransferStatus StandardTransfer::Initialize(Lock& lock) {
  if (data_->status->GetState() != TransferState::Initializing ||
      data_->status->GetError() != TransferError::None || !workflow_ || !workflow_->Start()) {
    return Snapshot();
  }
  return Emit(lock, std::make_unique<TransferInitializeEvent>(Context()));
}

TransferStatus StandardTransfer::Start(Lock& lock, const std::string& destinationFolder) {
  return TryStart(lock, destinationFolder).status;
}

StandardTransfer::Outcome StandardTransfer::TryStart(Lock& lock,
                                                     const std::string& destinationFolder) {
  const std::string current = data_->CopyParams().destPath;
  const bool knownDestination = !current.empty() && current != UnspecifiedVersion;
  if (!knownDestination && destinationFolder.empty()) return {Snapshot(), false};
  if (knownDestination && !destinationFolder.empty() && destinationFolder != current) {
    return {Snapshot(), false};
  }
  if (data_->status->GetState() != TransferState::Initialized ||
      data_->status->GetError() != TransferError::None || !workflow_) {
    return {Snapshot(), false};
  }
  if (!knownDestination) {
    std::lock_guard<std::mutex> paramsLock(data_->paramsMutex);
    data_->params.destPath = destinationFolder;
  }
  StateChange change = ChangeState(TransferState::Transferring);
  workflow_->Resume();
  return {Emit(lock, std::move(change.event)), true};
}

TransferStatus StandardTransfer::Pause(Lock& lock) {
  const TransferState state = data_->status->GetState();
  if ((state != TransferState::Initializing && state != TransferState::Transferring) ||
      !workflow_ || !workflow_->Pause()) {
    return Snapshot();
  }
  StateChange change =
      ChangeState(state == TransferState::Initializing ? TransferState::InitializingPaused
                                                       : TransferState::TransferringPaused);
  return Emit(lock, std::move(change.event));
}

TransferStatus StandardTransfer::Resume(Lock& lock) {
  const TransferState state = data_->status->GetState();
  if ((state != TransferState::InitializingPaused && state != TransferState::TransferringPaused) ||
      !workflow_ || !workflow_->Resume()) {
    return Snapshot();
  }
  StateChange change =
      ChangeState(state == TransferState::InitializingPaused ? TransferState::Initializing
                                                             : TransferState::Transferring);
  return Emit(lock, std::move(change.event));
}

TransferStatus StandardTransfer::Retry(Lock& lock) {
  if (data_->status->GetError() == TransferError::None || !data_->status->IsRetryable() ||
      !workflow_ || !workflow_->ResumeSuspended()) {
    return Snapshot();
  }
  data_->status->SetError(TransferError::None, false);
  return Emit(lock, std::make_unique<TransferRetryEvent>(Context()));
}

TransferStatus StandardTransfer::Cancel(Lock& lock, bool deleteFiles) {
  const bool cleanlySuspended = data_->status->GetState() == TransferState::Suspended &&
                                data_->status->GetError() == TransferError::None;
  if (deleteFiles && !cleanlySuspended) {
    CreatedFiles& files = *data_->createdFiles;
    files.deleted = true;
    const std::string folder = data_->CopyParams().destPath;
    for (const std::string& path : files.paths) {
      try {
        data_->behavior.sharedFileFactory->RemoveFile(folder, path);
      } catch (const std::exception&) {
        // A file that cannot be removed stays; the cancellation goes on.
      }
    }
    files.paths.clear();
  }
  if (IsFinal()) return Snapshot();
  StateChange change = SetFinalState(TransferState::Canceled);
  return Emit(lock, std::move(change.event));
}

TransferStatus StandardTransfer::Suspend(Lock& lock) {
  const TransferState state = data_->status->GetState();
  if (data_->CopyParams().restored == 0 &&
      (state == TransferState::Initializing || state == TransferState::InitializingPaused ||
       state == TransferState::Initialized)) {
    return Cancel(lock, false);
  }
  const bool completed =
      state == TransferState::Completed && data_->status->GetError() == TransferError::None;
  if (IsFinal() && !completed) return Snapshot();

  // The change is made on the old data, so its event reports the progress
  // reached (a completed transfer is put away without one); the new data
  // begins Suspended.
  StateChange change = ChangeState(TransferState::Suspended);
  ResetData();
  {
    std::lock_guard<std::mutex> paramsLock(data_->paramsMutex);
    data_->params.restored = 1;
  }
  ReleaseWorkflow();
  return Emit(lock, std::move(change.event));
}

TransferStatus StandardTransfer::Restore(Lock& lock) {
  if (data_->status->GetState() != TransferState::Suspended ||
      data_->status->GetError() != TransferError::None) {
    return Snapshot();
  }
  CreateWorkflow();
  if (!workflow_ || !workflow_->Start()) return Snapshot();
  StateChange change = ChangeState(TransferState::Initializing);
  return Emit(lock, std::move(change.event));
}

// ---------------------------------------------------------------------------
// Handlers

void StandardTransfer::OnPackageAcquire(Lock& lock, const std::shared_ptr<const Work>& work,
                                        const WorkStatus& status) {
  if (IsFinal() || status.result != WorkResult::Success) return;
  const TransferState state = data_->status->GetState();
  if (state != TransferState::Initializing && state != TransferState::InitializingPaused) {
    Fail(lock, work, "Transfer::OnPackageAcquire called but transfer is not initializing",
         TransferError::UnexpectedError);
    return;
  }
  const auto acquired = TransferOutcome::Package(status);
  if (!acquired) {
    Fail(lock, work,
         "Transfer::OnPackageAcquire called but data is not PackageStatusData or package is null",
         TransferError::UnexpectedError);
    return;
  }
  const auto package = std::const_pointer_cast<PackageManifest>(acquired);
  const TransferParams params = data_->CopyParams();
  if (package->GetPartnerId() != params.partnerId || package->GetId() != params.packageId) {
    Fail(lock, work, "Transfer::OnPackageAcquire called but package does not match ids",
         TransferError::ManifestError);
    return;
  }
  std::atomic_store(&data_->package, package);
  std::lock_guard<std::mutex> paramsLock(data_->paramsMutex);
  data_->params.versionId = package->GetVersionId();
}

void StandardTransfer::OnNodeListAcquire(Lock& lock, const std::shared_ptr<const Work>& work,
                                         const WorkStatus& status) {
  if (IsFinal() || status.result != WorkResult::Success) return;
  const TransferState state = data_->status->GetState();
  if (state != TransferState::Initializing && state != TransferState::InitializingPaused) {
    Fail(lock, work, "Transfer::OnNodeListAcquire called but transfer is not initializing",
         TransferError::UnexpectedError);
    return;
  }
  const auto nodeList = TransferOutcome::NodeList(status);
  if (!nodeList) {
    Fail(lock, work,
         "Transfer::OnNodeListAcquire called but data is not NodeListStatusData or nodelist is "
         "null",
         TransferError::UnexpectedError);
    return;
  }
  std::atomic_store(&data_->nodeList, std::const_pointer_cast<NodeListManifest>(nodeList));
}

void StandardTransfer::OnInitialize(Lock& lock, const std::shared_ptr<const Work>& work,
                                    const WorkStatus& status) {
  if (IsFinal() || status.result != WorkResult::Success) return;
  const TransferState state = data_->status->GetState();
  if (state != TransferState::Initializing && state != TransferState::InitializingPaused) {
    Fail(lock, work, "Transfer::OnInitialize called but transfer is not initializing",
         TransferError::UnexpectedError);
    return;
  }
  const auto package = data_->LoadPackage();
  if (!package) {
    Fail(lock, work, "Transfer::OnInitialize called but package is missing",
         TransferError::UnexpectedError);
    return;
  }
  if (!data_->LoadNodeList()) {
    Fail(lock, work, "Transfer::OnInitialize called but nodelist is missing",
         TransferError::UnexpectedError);
    return;
  }
  StateChange change = ChangeState(TransferState::Initialized);
  data_->status->SetPackage(*package);
  if (workflow_) workflow_->Pause();
  Emit(lock, std::move(change.event));
}

void StandardTransfer::OnWorkComplete(Lock& lock, const std::shared_ptr<const Work>& work,
                                      const WorkStatus& status) {
  if (IsFinal()) return;
  if (status.result == WorkResult::Interrupted || status.result == WorkResult::RetryableError) {
    return;
  }
  if (status.result == WorkResult::Success) {
    if (IsProgressComplete()) {
      StateChange change = SetFinalState(TransferState::Completed);
      Emit(lock, std::move(change.event));
    } else {
      Fail(lock, work,
           "Transfer::OnWorkComplete called with Success result but progress is not complete",
           TransferError::UnexpectedError);
    }
    return;
  }
  const auto payload = TransferOutcome::Failure(status);
  if (!payload) {
    if (const auto thrown = TransferOutcome::EscapedException(status)) {
      // An exception escaped a work's completion chain and the work manager
      // canceled the tree with it; its text goes into the failure's record.
      Fail(lock, work, "Transfer::OnWorkComplete: an exception escaped a work: " + WhatOf(*thrown),
           ErrorOf(*thrown));
      return;
    }
    Fail(lock, work,
         "Transfer::OnWorkComplete called with error result but data is not TransferStatusData",
         TransferError::UnexpectedError);
    return;
  }
  const TransferError error = payload->ToTransferError();
  if (error == TransferError::None) {
    Fail(lock, work,
         "Transfer::OnWorkComplete called with error result but data->ToTransferError() is None",
         TransferError::UnexpectedError);
    return;
  }
  data_->status->SetError(error, false, payload->GetCause());
  ReleaseWorkflow();
  Emit(lock, std::make_unique<TransferFatalErrorEvent>(Context(), *data_->status, status.data));
}

void StandardTransfer::OnWorkflowRetryableError(Lock& lock,
                                                const std::shared_ptr<Workflow>& workflow,
                                                const std::shared_ptr<const Work>& work,
                                                const WorkStatus& status) {
  if (IsFinal() || data_->status->GetError() != TransferError::None) return;
  if (workflow != workflow_) {
    Fail(lock, work, "Transfer::OnWorkflowRetryableError called on wrong workflow",
         TransferError::UnexpectedError);
    return;
  }
  if (status.result != WorkResult::RetryableError || status.retry) {
    Fail(lock, work, "Transfer::OnWorkflowRetryableError called with incorrect status",
         TransferError::UnexpectedError);
    return;
  }
  const auto payload = TransferOutcome::Failure(status);
  if (!payload) {
    Fail(lock, work, "Transfer::OnWorkflowRetryableError called with invalid data",
         TransferError::UnexpectedError);
    return;
  }
  const TransferError error = payload->ToTransferError();
  if (error == TransferError::None) {
    Fail(lock, work, "Transfer::OnWorkflowRetryableError called with TransferError::None",
         TransferError::UnexpectedError);
    return;
  }
  data_->status->SetError(error, true, payload->GetCause());
  Emit(lock, std::make_unique<TransferRetryableErrorEvent>(Context(), *data_->status, status.data));
}

void StandardTransfer::RegisterFile(Lock& /*lock*/, const std::string& relativePath) {
  data_->RegisterFile(relativePath);
}

}  // namespace velmo
