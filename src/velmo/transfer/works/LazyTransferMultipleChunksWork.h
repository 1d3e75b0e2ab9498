#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "velmo/file/Sha256Hasher.h"
#include "velmo/transfer/TransferWork.h"
#include "velmo/work/LazyParallelWork.h"

namespace velmo {

class FileManifest;
class TransferSharedFileData;
class TransferSharedMapData;
class TransferSingleChunkWork;

// The chunks of one file, built in order as earlier ones finish, at most
// `parallelWorkCapacity` at a time.
class LazyTransferMultipleChunksWork : public TransferWork, public LazyParallelWork {
 public:
  LazyTransferMultipleChunksWork(std::shared_ptr<TransferWorkInterface> workInterface,
                                 std::shared_ptr<const FileManifest> manifest,
                                 std::shared_ptr<TransferSharedFileData> file);
  void Describe(boost::property_tree::ptree& out) const override;
  void Reset() override;
  // Drops the views of the chunks still alive (when the tree is discarded).
  void ReleaseViews();
  // Starts a TailRequestChunkWork beside the chunks, on behalf of `chunk`,
  // whose request began the download's tail; false when this work is not
  // running (then nothing is started).
  bool StartTailRequest(const std::shared_ptr<TransferSharedMapData>& chunk);

 protected:
  std::shared_ptr<Work> GetNextWork() override;

 private:
  std::shared_ptr<const FileManifest> manifest_;
  std::shared_ptr<TransferSharedFileData> file_;
  std::vector<std::uint32_t> checksums_;
  std::vector<Sha256Digest> sha256s_;  // empty, or one per chunk
  std::mutex producedMutex_;
  // The chunks produced and perhaps still alive, guarded by producedMutex_.
  static constexpr std::size_t kMinPruneAt = 64;
  std::vector<std::weak_ptr<TransferSingleChunkWork>> produced_;
  std::size_t pruneAt_ = kMinPruneAt;
};

}  // namespace velmo
