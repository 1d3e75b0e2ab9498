#pragma once

#include <memory>
#include <optional>

#include "velmo/file/Sha256Hasher.h"
#include "velmo/transfer/TransferWork.h"
#include "velmo/work/SequentialWork.h"

namespace velmo {

class TransferSharedFileData;
class TransferSharedMapData;

// The pipeline of one chunk: verify what the file holds or fetch it, give its
// memory back, then, in the download's tail, lend its slot to a second
// request of the chunk expected to finish last.
class TransferSingleChunkWork : public TransferWork, public SequentialWork {
 public:
  static std::shared_ptr<TransferSingleChunkWork> Create(
      const std::shared_ptr<TransferWorkInterface>& workInterface,
      std::shared_ptr<TransferSharedFileData> file, std::uint64_t lowerBound,
      std::uint64_t upperBound, std::uint32_t expectedChecksum,
      std::optional<Sha256Digest> expectedSha256 = std::nullopt);
  TransferSingleChunkWork(std::shared_ptr<TransferWorkInterface> workInterface,
                          std::shared_ptr<TransferSharedMapData> chunk);
  void Describe(boost::property_tree::ptree& out) const override;
  void Reset() override;
  // Drops the chunk's receive buffer (when the tree is discarded).
  void ReleaseView();
  const std::shared_ptr<TransferSharedMapData>& GetChunk() const { return chunk_; }

 private:
  std::shared_ptr<TransferSharedMapData> chunk_;
};

}  // namespace velmo
