#include "velmo/transfer/StandardTransferWorkInterface.h"

#include "velmo/transfer/StandardTransfer.h"
#include "velmo/transfer/TransferStatusImpl.h"

namespace velmo {

StandardTransferWorkInterface::StandardTransferWorkInterface(
    StandardTransfer* transfer, std::shared_ptr<std::recursive_mutex> transferMutex,
    std::shared_ptr<StandardTransferData> data)
    : transfer_(transfer),
      mutex_(std::move(transferMutex)),
      data_(std::move(data)),
      workComplete_([this](const std::shared_ptr<const Work>& work, const WorkStatus& status) {
        Forward(&StandardTransfer::OnWorkComplete, work, status);
      }),
      packageAcquire_([this](const std::shared_ptr<const Work>& work, const WorkStatus& status) {
        Forward(&StandardTransfer::OnPackageAcquire, work, status);
      }),
      nodeListAcquire_([this](const std::shared_ptr<const Work>& work, const WorkStatus& status) {
        Forward(&StandardTransfer::OnNodeListAcquire, work, status);
      }),
      initialize_([this](const std::shared_ptr<const Work>& work, const WorkStatus& status) {
        Forward(&StandardTransfer::OnInitialize, work, status);
      }) {}

TransferParams StandardTransferWorkInterface::GetParams() { return data_->CopyParams(); }

std::shared_ptr<PackageManifest> StandardTransferWorkInterface::GetPackage() {
  return data_->LoadPackage();
}

std::shared_ptr<NodeListManifest> StandardTransferWorkInterface::GetNodeList() {
  return data_->LoadNodeList();
}

std::shared_ptr<TransferProgressUpdater> StandardTransferWorkInterface::GetProgressUpdater() {
  return data_->status;
}

void StandardTransferWorkInterface::Forward(Handler handler,
                                            const std::shared_ptr<const Work>& work,
                                            const WorkStatus& status) {
  std::unique_lock<std::recursive_mutex> lock(*mutex_);
  if (active_) {
    (transfer_->*handler)(lock, work, status);
  }
}

void StandardTransferWorkInterface::OnWorkflowRetryableError(std::shared_ptr<Workflow> workflow,
                                                             std::shared_ptr<const Work> work,
                                                             const WorkStatus& status) {
  std::unique_lock<std::recursive_mutex> lock(*mutex_);
  if (active_) {
    transfer_->OnWorkflowRetryableError(lock, workflow, work, status);
  }
}

void StandardTransferWorkInterface::RecordFileIdentity(const std::string& relativePath,
                                                       const FileIdentity& identity) {
  std::lock_guard<std::mutex> lock(identitiesMutex_);
  identities_[relativePath] = identity;
}

std::optional<FileIdentity> StandardTransferWorkInterface::RecordedFileIdentity(
    const std::string& relativePath) {
  std::lock_guard<std::mutex> lock(identitiesMutex_);
  const auto found = identities_.find(relativePath);
  if (found == identities_.end()) return std::nullopt;
  return found->second;
}

void StandardTransferWorkInterface::RegisterFile(const std::string& relativePath) {
  std::unique_lock<std::recursive_mutex> lock(*mutex_);
  if (active_) {
    transfer_->RegisterFile(lock, relativePath);
  } else {
    // A file work of a tree a suspension discarded, let go of after the
    // switch-off: the later incarnations share the record, and a cancellation
    // with deletion must find the file there (or, once it ran, it goes now).
    data_->RegisterFile(relativePath);
  }
}

}  // namespace velmo
