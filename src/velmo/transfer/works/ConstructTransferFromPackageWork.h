#pragma once

#include <memory>

#include "velmo/transfer/TransferWork.h"
#include "velmo/work/SimpleWork.h"

namespace velmo {

class DeferredWork;

// Builds the file tree from the package manifest and grafts it into its slot.
class ConstructTransferFromPackageWork : public TransferWork, public SimpleWork {
 public:
  ConstructTransferFromPackageWork(std::shared_ptr<TransferWorkInterface> workInterface,
                                   std::shared_ptr<DeferredWork> files);
  void Describe(boost::property_tree::ptree& out) const override;
  WorkStatus ExecuteTask() override;
  void OnInterrupt() override {}

 private:
  std::shared_ptr<DeferredWork> files_;
};

}  // namespace velmo
