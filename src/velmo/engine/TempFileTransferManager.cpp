#include "velmo/engine/TempFileTransferManager.h"

namespace velmo {

std::shared_ptr<Transfer> TempFileTransferManager::Find(const std::string& transferId,
                                                        const TransferBehavior& behavior) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (std::shared_ptr<Transfer> transfer = OfflineTransferManager::Find(transferId, behavior)) {
    return transfer;
  }
  TransferManifest manifest;
  if (store_ == nullptr || !store_->Load(transferId, manifest) ||
      manifest.params.transferId != transferId) {
    return nullptr;
  }
  manifest.params.restored = 1;
  std::shared_ptr<Transfer> transfer = factory_->Create(manifest.params, behavior);
  // Never replaces an entry: after shutdown the table may still hold the id.
  transfers_.emplace(transferId, transfer);
  return transfer;
}

}  // namespace velmo
