#pragma once

#include <memory>

#include "velmo/transfer/TransferWork.h"
#include "velmo/work/SequentialWork.h"

namespace velmo {

class DeferredWork;

// Gets both manifests, then builds the file tree into the deferred slot.
class InitializeTransferWork : public TransferWork, public SequentialWork {
 public:
  static std::shared_ptr<InitializeTransferWork> Create(
      const std::shared_ptr<TransferWorkInterface>& workInterface,
      const std::shared_ptr<DeferredWork>& files);
  explicit InitializeTransferWork(std::shared_ptr<TransferWorkInterface> workInterface);
  void Describe(boost::property_tree::ptree& out) const override;
};

}  // namespace velmo
