#pragma once

#include <memory>
#include <vector>

#include "velmo/transfer/TransferWork.h"
#include "velmo/work/LazyParallelWork.h"

namespace velmo {

class FileManifest;

// The package's other files, started in manifest order, at most
// `parallelWorkCapacity` at a time.
class LazyParallelTransferMultipleFilesWork : public TransferWork, public LazyParallelWork {
 public:
  // Throws std::logic_error when the package has no other files.
  explicit LazyParallelTransferMultipleFilesWork(
      std::shared_ptr<TransferWorkInterface> workInterface);
  void Describe(boost::property_tree::ptree& out) const override;

 protected:
  std::shared_ptr<Work> GetNextWork() override;

 private:
  std::vector<std::shared_ptr<const FileManifest>> files_;
};

}  // namespace velmo
