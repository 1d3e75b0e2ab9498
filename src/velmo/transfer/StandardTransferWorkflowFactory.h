#pragma once

#include "velmo/transfer/TransferWorkflowFactory.h"

namespace velmo {

// A TransferPackageWork tree on a StandardWorkflow that runs on the transfer
// work manager, at most `workflowConcurrency` simple works at a time.
class StandardTransferWorkflowFactory : public TransferWorkflowFactory {
 public:
  std::shared_ptr<Workflow> Create(std::shared_ptr<TransferWorkInterface> workInterface) override;
};

}  // namespace velmo
