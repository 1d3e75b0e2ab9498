#pragma once

#include <memory>

#include "velmo/transfer/TransferWork.h"
#include "velmo/work/SequentialWork.h"

namespace velmo {

// The root of a transfer's tree: initialization (manifests, then the file
// tree), the files, then lifting the execute denial of the programs.
class TransferPackageWork : public TransferWork, public SequentialWork {
 public:
  static std::shared_ptr<TransferPackageWork> Create(
      const std::shared_ptr<TransferWorkInterface>& workInterface);
  explicit TransferPackageWork(std::shared_ptr<TransferWorkInterface> workInterface);
  void Describe(boost::property_tree::ptree& out) const override;
};

}  // namespace velmo
