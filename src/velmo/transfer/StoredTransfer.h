#pragma once

#include "velmo/engine/ManifestStore.h"
#include "velmo/engine/TransferManifest.h"
#include "velmo/transfer/StandardTransfer.h"

namespace velmo {

// A transfer that can be found again after the program ends: its identifiers
// and destination are stored when it starts and removed when it is canceled,
// unless it was cleanly suspended. The store is called without the lock. A
// document that cannot be stored is the status's storeError and a
// TransferStoreFailedEvent; the transfer goes on regardless.
class StoredTransfer : public StandardTransfer {
 public:
  StoredTransfer(const TransferParams& params, const TransferBehavior& behavior,
                 TransferWorkflowFactory* workflowFactory, ManifestStore<TransferManifest>* store);

  using StandardTransfer::Cancel;
  using StandardTransfer::Start;
  TransferStatus Start(Lock& lock, const std::string& destinationFolder) override;
  TransferStatus Cancel(Lock& lock, bool deleteFiles) override;

 private:
  // The store holds this transfer's document, readable.
  bool IsStored(const std::string& transferId);

  ManifestStore<TransferManifest>* const store_;
};

}  // namespace velmo
