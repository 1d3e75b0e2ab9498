#include "velmo/transfer/works/TransferSharedMapData.h"

#include <boost/property_tree/ptree.hpp>
#include <cstdio>

#include "velmo/file/BufferedChunkData.h"
#include "velmo/transfer/TransferProgressUpdater.h"

namespace velmo {

std::string HexChecksum(std::uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(value));
  return text;
}

TransferSharedMapData::TransferSharedMapData(std::shared_ptr<TransferSharedFileData> file,
                                             std::uint64_t lower, std::uint64_t upper,
                                             std::uint32_t checksum,
                                             std::shared_ptr<TransferProgressUpdater> updater,
                                             std::optional<Sha256Digest> sha256)
    : ChunkBounds{lower, upper},
      fileData(std::move(file)),
      expectedChecksum(checksum),
      expectedSha256(sha256),
      progress(std::move(updater)),
      position(lower) {}

void TransferSharedMapData::Describe(boost::property_tree::ptree& out) const {
  if (fileData) fileData->Describe(out);
  out.put("lowerBound", lowerBound);
  out.put("upperBound", upperBound);
  out.put("expectedChecksum", HexChecksum(expectedChecksum));
  if (expectedSha256) out.put("expectedSha256", Sha256Hex(*expectedSha256));
  out.put("fileProgressBytes", fileProgressBytes.load());
}

bool TransferSharedMapData::Sha256Matches(const BufferedChunkData& bytes) const {
  if (!expectedSha256) return true;
  return bytes.HasSha256() && bytes.Sha256() == *expectedSha256;
}

bool TransferSharedMapData::Matches(const BufferedChunkData& bytes) const {
  return bytes.Complete() && bytes.Crc32() == expectedChecksum && Sha256Matches(bytes);
}

bool TransferSharedMapData::CommitVerified(BufferedChunkData& bytes) {
  std::lock_guard<std::mutex> lock(commitMutex);
  if (verified.load()) return false;
  bytes.Commit();
  CountVerified();
  return true;
}

void TransferSharedMapData::CountVerified() {
  const std::uint64_t size = Size();
  // exchange: bytes a request counts while this runs are either in `counted`
  // or left above the size for SettleProgress.
  const std::uint64_t counted = fileProgressBytes.exchange(size);
  if (progress) {
    if (counted < size) progress->AddProgress(size - counted);
    if (counted > size) progress->RemoveProgress(counted - size);
    progress->AddVerified(size);
  }
  verified = true;
}

void TransferSharedMapData::SettleProgress() {
  const std::uint64_t size = Size();
  const std::uint64_t counted = fileProgressBytes.exchange(size);
  if (counted > size && progress) progress->RemoveProgress(counted - size);
}

void TransferSharedMapData::Rewind() {
  if (received) received->Rewind();
  // Under commitMutex: between CountVerified's count and its `verified` flag,
  // a rewind would take back progress the verified copy just counted.
  std::lock_guard<std::mutex> lock(commitMutex);
  if (verified.load()) return;  // another copy is in the file and counted
  const std::uint64_t counted = fileProgressBytes.exchange(0);
  if (counted != 0 && progress) progress->RemoveProgress(counted);
}

}  // namespace velmo
