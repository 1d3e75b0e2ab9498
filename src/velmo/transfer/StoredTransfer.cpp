#include "velmo/transfer/StoredTransfer.h"

#include <memory>

#include "velmo/transfer/TransferEvents.h"
#include "velmo/transfer/TransferStatusImpl.h"

namespace velmo {

StoredTransfer::StoredTransfer(const TransferParams& params, const TransferBehavior& behavior,
                               TransferWorkflowFactory* workflowFactory,
                               ManifestStore<TransferManifest>* store)
    : StandardTransfer(params, behavior, workflowFactory), store_(store) {}

TransferStatus StoredTransfer::Start(Lock& lock, const std::string& destinationFolder) {
  const Outcome outcome = TryStart(lock, destinationFolder);
  const TransferStatus& status = outcome.status;
  if (outcome.applied && store_ != nullptr) {
    // The start's event may have released the lock, so the identifiers come
    // from the snapshot of the moment after the start rather than from the
    // data, which a suspension may replace.
    TransferParams params;
    params.transferId = status.transferId;
    params.partnerId = status.partnerId;
    params.packageId = status.packageId;
    params.versionId = status.versionId;
    params.destPath = status.destPath;
    if (lock.owns_lock()) lock.unlock();
    std::string cause;
    if (!store_->Save(params.transferId, TransferManifest(params), &cause) &&
        !IsStored(params.transferId)) {
      // The download goes on; only a later resume is lost, which whoever
      // drives the transfer must hear of now rather than when it tries.
      lock.lock();
      data_->status->SetStoreError(cause);
      std::unique_ptr<TransferEvent> event =
          std::make_unique<TransferStoreFailedEvent>(Context(), cause);
      lock.unlock();
      event->Dispatch();
      TransferStatus failed = status;
      failed.storeError = cause;
      return failed;
    }
  }
  return status;
}

bool StoredTransfer::IsStored(const std::string& transferId) {
  // A restored transfer, or one started again, finds its own document in
  // place, which the store never replaces; that is no failure.
  TransferManifest stored;
  return store_->TryLoad(transferId, stored) == StoredDocument::Loaded &&
         stored.params.transferId == transferId;
}

TransferStatus StoredTransfer::Cancel(Lock& lock, bool deleteFiles) {
  TransferStatus status = StandardTransfer::Cancel(lock, deleteFiles);
  if (status.state == TransferState::Suspended && status.error == TransferError::None) {
    return status;
  }
  if (lock.owns_lock()) lock.unlock();
  if (store_ != nullptr) store_->Remove(status.transferId);
  return status;
}

}  // namespace velmo
