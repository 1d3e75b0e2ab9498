#pragma once

#include <memory>
#include <vector>

#include "velmo/transfer/TransferWork.h"
#include "velmo/work/SequentialWork.h"

namespace velmo {

class FileManifest;

// The run files, one after another, before anything else.
class SequentialTransferMultipleFilesWork : public TransferWork, public SequentialWork {
 public:
  // Throws std::logic_error for an empty list.
  static std::shared_ptr<SequentialTransferMultipleFilesWork> Create(
      const std::vector<std::shared_ptr<const FileManifest>>& files,
      const std::shared_ptr<TransferWorkInterface>& workInterface);
  SequentialTransferMultipleFilesWork(std::shared_ptr<TransferWorkInterface> workInterface,
                                      unsigned reserve);
  void Describe(boost::property_tree::ptree& out) const override;
};

}  // namespace velmo
