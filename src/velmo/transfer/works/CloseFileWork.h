#pragma once

#include <memory>

#include "velmo/transfer/TransferWork.h"
#include "velmo/work/SimpleWork.h"

namespace velmo {

class TransferSharedFileData;

// Lets go of the destination file; it closes once no chunk holds it.
class CloseFileWork : public TransferWork, public SimpleWork {
 public:
  CloseFileWork(std::shared_ptr<TransferWorkInterface> workInterface,
                std::shared_ptr<TransferSharedFileData> file);
  void Describe(boost::property_tree::ptree& out) const override;
  WorkStatus ExecuteTask() override;
  void OnInterrupt() override {}

 private:
  std::shared_ptr<TransferSharedFileData> file_;
};

}  // namespace velmo
