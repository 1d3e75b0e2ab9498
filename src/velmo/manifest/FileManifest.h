#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "velmo/file/Sha256Hasher.h"
#include "velmo/manifest/InputManifest.h"

namespace velmo {

// One file of a package: where it goes below the transfer's destination
// folder, how big it is, and the CRC-32 of each of its chunks. Chunk i covers
// bytes [i * chunkSize, min((i + 1) * chunkSize, size)); only the last chunk
// may be shorter. A manifest may also carry a SHA-256 per chunk, which pins
// the bytes against anyone who can choose them (four chosen bytes restore any
// CRC-32); where it does, a chunk counts only when both match. Filled once by Parse, then shared
// read-only between threads.
class FileManifest : public InputManifest {
 public:
  ~FileManifest() override = default;
  void Parse(const boost::property_tree::ptree& tree) override = 0;
  virtual std::string GetPath() const = 0;
  virtual std::uint32_t GetChunkSize() const = 0;
  virtual std::uint64_t GetSize() const = 0;
  virtual std::vector<std::uint32_t> GetChecksums() const = 0;
  // One SHA-256 per chunk, or none when the manifest carries none.
  virtual std::vector<Sha256Digest> GetSha256s() const { return {}; }

  // True when every chunk has a SHA-256 (so also for a file without chunks).
  bool HasStrongHashes() const;

  // Number of chunks, 0 when the chunk size is 0. Throws
  // ManifestOverflowException when the count does not fit in 32 bits.
  std::uint32_t GetChunkCount() const;
};

// Number of chunks of `chunkSize` bytes that cover `size` bytes, 0 when
// chunkSize is 0; ManifestOverflowException when it exceeds 32 bits.
std::uint32_t ChunkCount(std::uint64_t size, std::uint32_t chunkSize);

// True when a relative path taken from a server stays inside the folder it is
// used under: not empty, not absolute, no ".." component, no NUL byte, and
// naming something other than the folder itself (".", "./").
bool IsContainedRelativePath(const std::string& path);

}  // namespace velmo
