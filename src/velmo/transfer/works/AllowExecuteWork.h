#pragma once

#include <memory>

#include "velmo/transfer/TransferWork.h"
#include "velmo/work/SimpleWork.h"

namespace velmo {

// Once every file is in, checks that each path still names the file written
// and lets the package's programs (and its run file) be started again.
class AllowExecuteWork : public TransferWork, public SimpleWork {
 public:
  explicit AllowExecuteWork(std::shared_ptr<TransferWorkInterface> workInterface);
  void Describe(boost::property_tree::ptree& out) const override;
  WorkStatus ExecuteTask() override;
  void OnInterrupt() override {}
};

}  // namespace velmo
