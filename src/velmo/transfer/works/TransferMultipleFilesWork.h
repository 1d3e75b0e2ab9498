#pragma once

#include <memory>

#include "velmo/transfer/TransferWork.h"
#include "velmo/work/SequentialWork.h"

namespace velmo {

// All files of the package: the run files first, completely, then the others
// in parallel.
class TransferMultipleFilesWork : public TransferWork, public SequentialWork {
 public:
  // Throws std::logic_error for a package without files.
  static std::shared_ptr<TransferMultipleFilesWork> Create(
      const std::shared_ptr<TransferWorkInterface>& workInterface);
  explicit TransferMultipleFilesWork(std::shared_ptr<TransferWorkInterface> workInterface);
  void Describe(boost::property_tree::ptree& out) const override;
};

}  // namespace velmo
