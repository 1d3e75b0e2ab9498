#pragma once

#include <memory>

namespace velmo {

class TransferWorkInterface;
class Workflow;

// Builds the work tree of a transfer and the workflow that drives it.
class TransferWorkflowFactory {
 public:
  virtual ~TransferWorkflowFactory() = default;
  virtual std::shared_ptr<Workflow> Create(
      std::shared_ptr<TransferWorkInterface> workInterface) = 0;
};

}  // namespace velmo
