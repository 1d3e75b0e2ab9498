#include "velmo/transfer/StandardTransferWorkflowFactory.h"

#include <algorithm>

#include "velmo/transfer/TransferWorkInterface.h"
#include "velmo/transfer/works/TransferPackageWork.h"
#include "velmo/work/StandardWorkflow.h"

namespace velmo {

std::shared_ptr<Workflow> StandardTransferWorkflowFactory::Create(
    std::shared_ptr<TransferWorkInterface> workInterface) {
  const TransferBehavior& behavior = workInterface->GetBehavior();
  const unsigned maxRunning = std::max(1u, behavior.settings.workflowConcurrency);
  auto root = TransferPackageWork::Create(workInterface);
  auto workflow = std::make_shared<StandardWorkflow>(root, behavior.workManager, maxRunning);
  root->SetWorkflow(workflow);
  return workflow;
}

}  // namespace velmo
