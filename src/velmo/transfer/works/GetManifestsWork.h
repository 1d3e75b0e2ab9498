#pragma once

#include <memory>

#include "velmo/transfer/TransferWork.h"
#include "velmo/work/ParallelWork.h"

namespace velmo {

// Fetches the package manifest and the node list at the same time.
class GetManifestsWork : public TransferWork, public ParallelWork {
 public:
  static std::shared_ptr<GetManifestsWork> Create(
      const std::shared_ptr<TransferWorkInterface>& workInterface);
  explicit GetManifestsWork(std::shared_ptr<TransferWorkInterface> workInterface);
  void Describe(boost::property_tree::ptree& out) const override;
};

}  // namespace velmo
