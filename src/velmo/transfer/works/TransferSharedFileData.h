#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "velmo/work/WorkDescriptor.h"

namespace velmo {

class LazyTransferMultipleChunksWork;
class SharedFile;

// One destination file, shared by the file's works and all its chunks. The
// file pointer is written only by the file's open and close works, which the
// file's sequence runs before and after every chunk.
class TransferSharedFileData : public WorkDescriptor {
 public:
  TransferSharedFileData(std::string path, std::uint64_t size)
      : filePath(std::move(path)), fileSize(size) {}
  TransferSharedFileData(const TransferSharedFileData&) = delete;
  TransferSharedFileData& operator=(const TransferSharedFileData&) = delete;

  // "filePath", "fileSize".
  void Describe(boost::property_tree::ptree& out) const override;

  std::shared_ptr<SharedFile> file;
  // Set by the open work when it allocated the file from empty: none of its
  // chunks can hold valid bytes yet, so none needs to be read to know it.
  std::atomic<bool> created{false};
  const std::string filePath;
  const std::uint64_t fileSize;
  // The work that produces the file's chunks (weakly: it owns them), set
  // before any of them runs. A chunk whose request begins the download's
  // tail starts a tail request beside it.
  std::weak_ptr<LazyTransferMultipleChunksWork> chunks;
};

}  // namespace velmo
