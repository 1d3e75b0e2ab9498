#pragma once

#include "velmo/engine/ManifestStore.h"
#include "velmo/engine/TransferFactory.h"
#include "velmo/engine/TransferManifest.h"

namespace velmo {

class TransferWorkflowFactory;

// Every transfer of the engine is a stored one, findable after a restart.
class StoredTransferFactory : public TransferFactory {
 public:
  StoredTransferFactory(ManifestStore<TransferManifest>* store,
                        TransferWorkflowFactory* workflowFactory)
      : store_(store), workflowFactory_(workflowFactory) {}
  std::shared_ptr<Transfer> Create(const TransferParams& params,
                                   const TransferBehavior& behavior) override;

 private:
  ManifestStore<TransferManifest>* const store_;
  TransferWorkflowFactory* const workflowFactory_;
};

}  // namespace velmo
