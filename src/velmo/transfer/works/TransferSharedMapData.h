#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "velmo/http/HttpRequestStatus.h"
#include "velmo/optimizer/ChunkBounds.h"
#include "velmo/transfer/works/TransferSharedFileData.h"
#include "velmo/work/WorkDescriptor.h"

namespace velmo {

class MemoryMappedFileData;
class TransferProgressUpdater;

// One chunk of a file, shared by the works of its pipeline. Those works run
// one after another, so the record is used by one thread at a time; only the
// progress updater (atomic) is shared with other chunks.
class TransferSharedMapData : public WorkDescriptor, public ChunkBounds {
 public:
  TransferSharedMapData(std::shared_ptr<TransferSharedFileData> fileData, std::uint64_t lowerBound,
                        std::uint64_t upperBound, std::uint32_t expectedChecksum,
                        std::shared_ptr<TransferProgressUpdater> progress);
  TransferSharedMapData(const TransferSharedMapData&) = delete;
  TransferSharedMapData& operator=(const TransferSharedMapData&) = delete;

  // The file's keys, then "lowerBound", "upperBound", "expectedChecksum" (hex)
  // and "fileProgressBytes".
  void Describe(boost::property_tree::ptree& out) const override;

  std::uint64_t Size() const { return upperBound - lowerBound + 1; }
  // Back to the chunk's first byte with none of its bytes counted as progress,
  // so that a repeated request starts clean.
  void Rewind();

  const std::shared_ptr<TransferSharedFileData> fileData;
  const std::uint32_t expectedChecksum;
  std::shared_ptr<MemoryMappedFileData> view;
  const std::shared_ptr<TransferProgressUpdater> progress;
  // Atomic because the work log describes a completed work on its own
  // thread while the chunk's next work may already be counting.
  std::atomic<std::uint64_t> fileProgressBytes{0};
  std::uint32_t badNodeMask = 0;   // nodes (index mod 32) that delivered wrong bytes
  std::uint32_t badNodeCount = 0;  // bits set in badNodeMask
  std::int32_t nodeIndex = 0;      // node of the last request
  HttpRequestStatus lastStatus;
  std::uint64_t position = 0;  // the view's position after the last request
};

// Lowercase hexadecimal without leading zeros.
std::string HexChecksum(std::uint32_t value);

}  // namespace velmo
