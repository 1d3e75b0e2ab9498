#include "velmo/engine/StoredTransferFactory.h"

#include "velmo/transfer/StoredTransfer.h"

namespace velmo {

std::shared_ptr<Transfer> StoredTransferFactory::Create(const TransferParams& params,
                                                        const TransferBehavior& behavior) {
  return std::make_shared<StoredTransfer>(params, behavior, workflowFactory_, store_);
}

}  // namespace velmo
