#pragma once

#include <memory>

#include "velmo/transfer/TransferWork.h"
#include "velmo/work/SequentialWork.h"

namespace velmo {

class FileManifest;
class LazyTransferMultipleChunksWork;
class TransferSharedFileData;

// One file: open and allocate it, fetch its chunks, close it. When the tree is
// discarded, the file is handed to the transfer as one it created, so that a
// cancellation with deletion can remove it.
class TransferSingleFileWork : public TransferWork, public SequentialWork {
 public:
  static std::shared_ptr<TransferSingleFileWork> Create(
      const std::shared_ptr<TransferWorkInterface>& workInterface,
      const std::shared_ptr<const FileManifest>& manifest);
  TransferSingleFileWork(std::shared_ptr<TransferWorkInterface> workInterface,
                         std::shared_ptr<TransferSharedFileData> file);
  ~TransferSingleFileWork() override;
  void Describe(boost::property_tree::ptree& out) const override;
  void Reset() override;

 private:
  std::shared_ptr<TransferSharedFileData> file_;
  std::shared_ptr<LazyTransferMultipleChunksWork> chunks_;
};

}  // namespace velmo
