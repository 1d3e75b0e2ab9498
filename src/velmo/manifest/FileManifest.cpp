#include "velmo/manifest/FileManifest.h"

#include <limits>

#include "velmo/manifest/ManifestExceptions.h"

namespace velmo {

std::uint32_t ChunkCount(std::uint64_t size, std::uint32_t chunkSize) {
  if (chunkSize == 0) {
    return 0;
  }
  const std::uint64_t roundUp = chunkSize - 1;
  if (size > std::numeric_limits<std::uint64_t>::max() - roundUp) {
    throw ManifestOverflowException();
  }
  const std::uint64_t count = (size + roundUp) / chunkSize;
  if (count > std::numeric_limits<std::uint32_t>::max()) {
    throw ManifestOverflowException();
  }
  return static_cast<std::uint32_t>(count);
}

std::uint32_t FileManifest::GetChunkCount() const { return ChunkCount(GetSize(), GetChunkSize()); }

bool FileManifest::HasStrongHashes() const {
  const std::uint32_t count = GetChunkCount();
  return count == 0 || GetSha256s().size() == count;
}

bool IsContainedRelativePath(const std::string& path) {
  if (path.empty() || path.front() == '/' || path.find('\0') != std::string::npos) {
    return false;
  }
  // Besides "..", a path made only of "." and empty components names the
  // destination folder itself, which is no file.
  bool namesSomething = false;
  std::string::size_type start = 0;
  while (start <= path.size()) {
    auto end = path.find('/', start);
    if (end == std::string::npos) {
      end = path.size();
    }
    const auto length = end - start;
    if (path.compare(start, length, "..") == 0) {
      return false;
    }
    if (length != 0 && path.compare(start, length, ".") != 0) {
      namesSomething = true;
    }
    start = end + 1;
  }
  return namesSomething;
}

}  // namespace velmo
