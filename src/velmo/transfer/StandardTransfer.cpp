#include "velmo/transfer/StandardTransfer.h"

#include <sys/statvfs.h>

#include <boost/property_tree/ptree.hpp>
#include <filesystem>
#include <system_error>

#include "velmo/file/SharedFileFactory.h"
#include "velmo/manifest/FileManifest.h"
#include "velmo/manifest/NodeListManifest.h"
#include "velmo/manifest/NodeManifest.h"
#include "velmo/manifest/PackageManifest.h"
#include "velmo/optimizer/NodeStatistics.h"
#include "velmo/optimizer/TransferOptimizer.h"
#include "velmo/platform/System.h"
#include "velmo/telemetry/JsonWriter.h"
#include "velmo/transfer/TransferErrorData.h"
#include "velmo/transfer/TransferEvent.h"
#include "velmo/transfer/TransferEvents.h"
#include "velmo/transfer/TransferPeriodicEvent.h"
#include "velmo/transfer/TransferStatusData.h"
#include "velmo/transfer/TransferStatusImpl.h"
#include "velmo/transfer/TransferWorkflowFactory.h"
#include "velmo/transfer/works/NodeListStatusData.h"
#include "velmo/transfer/works/PackageStatusData.h"
#include "velmo/work/WorkStatus.h"
#include "velmo/work/Workflow.h"

namespace velmo {
namespace {

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
    // Loaded from storage: waits for Restore.
    data_->status->SetState(TransferState::Suspended);
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

void StandardTransfer::SetFinalState(TransferState state) {
  data_->status->SetState(state);
  ReleaseWorkflow();
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
  data_ = std::make_shared<StandardTransferData>(data_->CopyParams(), data_->behavior);
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
  const std::string current = data_->CopyParams().destPath;
  const bool knownDestination = !current.empty() && current != "?";
  if (!knownDestination && destinationFolder.empty()) return Snapshot();
  if (knownDestination && !destinationFolder.empty() && destinationFolder != current) {
    return Snapshot();
  }
  if (data_->status->GetState() != TransferState::Initialized ||
      data_->status->GetError() != TransferError::None || !workflow_) {
    return Snapshot();
  }
  if (!knownDestination) {
    std::lock_guard<std::mutex> paramsLock(data_->paramsMutex);
    data_->params.destPath = destinationFolder;
  }
  data_->status->SetState(TransferState::Transferring);
  workflow_->Resume();
  return Emit(lock, std::make_unique<TransferStartEvent>(Context()));
}

TransferStatus StandardTransfer::Pause(Lock& lock) {
  const TransferState state = data_->status->GetState();
  if ((state != TransferState::Initializing && state != TransferState::Transferring) ||
      !workflow_ || !workflow_->Pause()) {
    return Snapshot();
  }
  data_->status->SetState(state == TransferState::Initializing ? TransferState::InitializingPaused
                                                               : TransferState::TransferringPaused);
  return Emit(lock, std::make_unique<TransferPauseEvent>(Context()));
}

TransferStatus StandardTransfer::Resume(Lock& lock) {
  const TransferState state = data_->status->GetState();
  if ((state != TransferState::InitializingPaused && state != TransferState::TransferringPaused) ||
      !workflow_ || !workflow_->Resume()) {
    return Snapshot();
  }
  data_->status->SetState(state == TransferState::InitializingPaused ? TransferState::Initializing
                                                                     : TransferState::Transferring);
  return Emit(lock, std::make_unique<TransferResumeEvent>(Context()));
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
    data_->filesDeleted = true;
    const std::string folder = data_->CopyParams().destPath;
    for (const std::string& path : data_->createdFiles) {
      try {
        data_->behavior.sharedFileFactory->RemoveFile(folder, path);
      } catch (const std::exception&) {
        // A file that cannot be removed stays; the cancellation goes on.
      }
    }
    data_->createdFiles.clear();
  }
  if (IsFinal()) return Snapshot();
  auto event = std::make_unique<TransferCancelEvent>(Context(), *data_->status);
  SetFinalState(TransferState::Canceled);
  return Emit(lock, std::move(event));
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

  // The event reports the progress reached, so it is made on the old data.
  std::unique_ptr<TransferEvent> event;
  if (!completed) {
    event = std::make_unique<TransferSuspendEvent>(Context(), *data_->status);
  }
  ResetData();
  {
    std::lock_guard<std::mutex> paramsLock(data_->paramsMutex);
    data_->params.restored = 1;
  }
  SetFinalState(TransferState::Suspended);
  return Emit(lock, std::move(event));
}

TransferStatus StandardTransfer::Restore(Lock& lock) {
  if (data_->status->GetState() != TransferState::Suspended ||
      data_->status->GetError() != TransferError::None) {
    return Snapshot();
  }
  CreateWorkflow();
  if (!workflow_ || !workflow_->Start()) return Snapshot();
  data_->status->SetState(TransferState::Initializing);
  return Emit(lock, std::make_unique<TransferRestoreEvent>(Context()));
}

// ---------------------------------------------------------------------------
// Handlers

void StandardTransfer::OnPackageAcquire(Lock& lock, std::shared_ptr<const Work> work,
                                        const WorkStatus& status) {
  if (IsFinal() || status.result != WorkResult::Success) return;
  const TransferState state = data_->status->GetState();
  if (state != TransferState::Initializing && state != TransferState::InitializingPaused) {
    Fail(lock, work, "Transfer::OnPackageAcquire called but transfer is not initializing",
         TransferError::UnexpectedError);
    return;
  }
  const auto payload = std::dynamic_pointer_cast<PackageStatusData>(status.data);
  if (!payload || !payload->GetPackage()) {
    Fail(lock, work,
         "Transfer::OnPackageAcquire called but data is not PackageStatusData or package is null",
         TransferError::UnexpectedError);
    return;
  }
  const auto package = std::const_pointer_cast<PackageManifest>(payload->GetPackage());
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

void StandardTransfer::OnNodeListAcquire(Lock& lock, std::shared_ptr<const Work> work,
                                         const WorkStatus& status) {
  if (IsFinal() || status.result != WorkResult::Success) return;
  const TransferState state = data_->status->GetState();
  if (state != TransferState::Initializing && state != TransferState::InitializingPaused) {
    Fail(lock, work, "Transfer::OnNodeListAcquire called but transfer is not initializing",
         TransferError::UnexpectedError);
    return;
  }
  const auto payload = std::dynamic_pointer_cast<NodeListStatusData>(status.data);
  if (!payload || !payload->GetNodeList()) {
    Fail(lock, work,
         "Transfer::OnNodeListAcquire called but data is not NodeListStatusData or nodelist is "
         "null",
         TransferError::UnexpectedError);
    return;
  }
  std::atomic_store(&data_->nodeList,
                    std::const_pointer_cast<NodeListManifest>(payload->GetNodeList()));
}

void StandardTransfer::OnInitialize(Lock& lock, std::shared_ptr<const Work> work,
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
  data_->status->SetState(TransferState::Initialized);
  data_->status->SetPackage(*package);
  if (workflow_) workflow_->Pause();
  Emit(lock, std::make_unique<TransferInitializeCompleteEvent>(Context()));
}

void StandardTransfer::OnWorkComplete(Lock& lock, std::shared_ptr<const Work> work,
                                      const WorkStatus& status) {
  if (IsFinal()) return;
  if (status.result == WorkResult::Interrupted || status.result == WorkResult::RetryableError) {
    return;
  }
  if (status.result == WorkResult::Success) {
    if (IsProgressComplete()) {
      auto event = std::make_unique<TransferCompleteEvent>(Context(), *data_->status);
      SetFinalState(TransferState::Completed);
      Emit(lock, std::move(event));
    } else {
      Fail(lock, work,
           "Transfer::OnWorkComplete called with Success result but progress is not complete",
           TransferError::UnexpectedError);
    }
    return;
  }
  const auto payload = std::dynamic_pointer_cast<TransferStatusData>(status.data);
  if (!payload) {
    if (const auto thrown = std::dynamic_pointer_cast<WorkExceptionData>(status.data)) {
      // An exception escaped a work's completion chain and the work manager
      // canceled the tree with it; its text goes into the failure's record.
      Fail(lock, work, "Transfer::OnWorkComplete: an exception escaped a work: " + WhatOf(*thrown),
           TransferError::UnexpectedError);
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

void StandardTransfer::OnWorkflowRetryableError(Lock& lock, std::shared_ptr<Workflow> workflow,
                                                std::shared_ptr<const Work> work,
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
  const auto payload = std::dynamic_pointer_cast<TransferStatusData>(status.data);
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
  if (data_->filesDeleted) {
    try {
      data_->behavior.sharedFileFactory->RemoveFile(data_->CopyParams().destPath, relativePath);
    } catch (const std::exception&) {
      // Left behind; nothing else can be done for it here.
    }
    return;
  }
  data_->createdFiles.insert(relativePath);
}

}  // namespace velmo
