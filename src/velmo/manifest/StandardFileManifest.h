#pragma once

#include "velmo/manifest/FileManifest.h"

namespace velmo {

// A file entry of the XML package manifest: fields path, chunksize, size and
// checksums (eight hexadecimal digits per chunk, concatenated), and the
// optional sha256 (64 hexadecimal digits per chunk, concatenated; written as an
// attribute of <file> so that readers without it pass over it).
class StandardFileManifest : public FileManifest {
 public:
  StandardFileManifest() = default;

  // Throws ManifestParseException for any missing or unconvertible field, a
  // path that would leave the destination folder, a chunk size of 0, a
  // checksum text whose length is not eight times the chunk count or that
  // holds a non-hexadecimal digit, the same for a sha256 text (64 digits per
  // chunk), and a chunk count beyond 32 bits.
  void Parse(const boost::property_tree::ptree& tree) override;

  std::string GetPath() const override { return path_; }
  std::uint32_t GetChunkSize() const override { return chunkSize_; }
  std::uint64_t GetSize() const override { return size_; }
  std::vector<std::uint32_t> GetChecksums() const override { return checksums_; }
  std::vector<Sha256Digest> GetSha256s() const override { return sha256s_; }

  // The checksums without a copy, for callers that hold the object.
  const std::vector<std::uint32_t>& Checksums() const { return checksums_; }

 private:
  std::string path_;
  std::uint32_t chunkSize_ = 0;
  std::uint64_t size_ = 0;
  std::vector<std::uint32_t> checksums_;
  std::vector<Sha256Digest> sha256s_;
};

}  // namespace velmo
