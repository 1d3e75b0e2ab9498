#pragma once

#include "velmo/engine/ManifestStore.h"
#include "velmo/engine/OfflineTransferManager.h"
#include "velmo/engine/TransferManifest.h"

namespace velmo {

// Also finds transfers of earlier runs: an id that is not in memory is looked
// up in the store and restored, suspended, from its stored manifest.
class TempFileTransferManager : public OfflineTransferManager {
 public:
  TempFileTransferManager(TransferFactory* factory, ManifestStore<TransferManifest>* store)
      : OfflineTransferManager(factory), store_(store) {}
  std::shared_ptr<Transfer> Find(const std::string& transferId,
                                 const TransferBehavior& behavior) override;

 private:
  ManifestStore<TransferManifest>* const store_;
};

}  // namespace velmo
