#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "velmo/file/Sha256Hasher.h"
#include "velmo/http/HttpRequestStatus.h"
#include "velmo/optimizer/ChunkBounds.h"
#include "velmo/transfer/works/TransferSharedFileData.h"
#include "velmo/work/WorkDescriptor.h"

namespace velmo {

class BufferedChunkData;
class NodeManifest;
class TransferProgressUpdater;

// One chunk of a file, shared by the works of its pipeline. Those works run
// one after another, so the record is used by one thread at a time, with two
// exceptions: a tail request of the chunk (another pipeline's work) reads
// the bounds and the progress and commits through CommitVerified, and the
// progress updater (atomic) is shared with other chunks.
class TransferSharedMapData : public WorkDescriptor, public ChunkBounds {
 public:
  TransferSharedMapData(std::shared_ptr<TransferSharedFileData> fileData, std::uint64_t lowerBound,
                        std::uint64_t upperBound, std::uint32_t expectedChecksum,
                        std::shared_ptr<TransferProgressUpdater> progress,
                        std::optional<Sha256Digest> expectedSha256 = std::nullopt);
  TransferSharedMapData(const TransferSharedMapData&) = delete;
  TransferSharedMapData& operator=(const TransferSharedMapData&) = delete;

  // The file's keys, then "lowerBound", "upperBound", "expectedChecksum" (hex)
  // and "fileProgressBytes", and "expectedSha256" (hex) when the chunk has one.
  void Describe(boost::property_tree::ptree& out) const override;

  std::uint64_t Size() const { return upperBound - lowerBound + 1; }
  // True when a copy of the chunk must also match a SHA-256, so its bytes
  // are to be hashed as they arrive.
  bool NeedsSha256() const { return expectedSha256.has_value(); }
  // True when the chunk has no SHA-256, or `bytes` kept one equal to it. A
  // copy that kept none cannot prove anything and does not match.
  bool Sha256Matches(const BufferedChunkData& bytes) const;
  // The whole chunk, with its CRC-32 and (where the chunk has one) SHA-256.
  bool Matches(const BufferedChunkData& bytes) const;
  // Back to the chunk's first byte with none of its bytes counted as progress
  // and none received, so that a repeated request starts clean.
  void Rewind();
  // Writes `bytes` (a verified copy of the whole chunk) to the file and
  // counts the chunk as verified, unless another copy was committed first.
  // True when this copy was the one written. Throws a FileException when the
  // file cannot be written (the chunk then stays unverified).
  bool CommitVerified(BufferedChunkData& bytes);
  // Counts the chunk as verified progress, whatever its requests counted.
  // Call under commitMutex.
  void CountVerified();
  // After another copy won: takes back the progress a losing request counted
  // beyond the chunk's size.
  void SettleProgress();

  const std::shared_ptr<TransferSharedFileData> fileData;
  const std::uint32_t expectedChecksum;
  const std::optional<Sha256Digest> expectedSha256;
  // The bytes of the latest request, held until they are verified.
  std::shared_ptr<BufferedChunkData> received;
  const std::shared_ptr<TransferProgressUpdater> progress;
  // Atomic because the work log describes a completed work on its own
  // thread while the chunk's next work may already be counting.
  std::atomic<std::uint64_t> fileProgressBytes{0};
  std::uint32_t badNodeMask = 0;   // nodes (index mod 32) that delivered wrong bytes
  std::uint32_t badNodeCount = 0;  // bits set in badNodeMask
  std::int32_t nodeIndex = 0;      // node of the last request
  HttpRequestStatus lastStatus;
  // The node, optimizer lease and duration of the last request, so that a
  // chunk failing its check can be blamed on the node that sent it.
  std::shared_ptr<NodeManifest> lastNode;
  std::uint64_t lastLease = 0;
  std::int32_t lastRequestTimeMs = 0;
  std::uint64_t position = 0;  // the receive position after the last request
  // Set once the chunk's bytes are verified in the file, by whichever request.
  std::atomic<bool> verified{false};
  std::mutex commitMutex;  // serializes CommitVerified, CountVerified and Rewind
};

// Lowercase hexadecimal without leading zeros.
std::string HexChecksum(std::uint32_t value);

}  // namespace velmo
