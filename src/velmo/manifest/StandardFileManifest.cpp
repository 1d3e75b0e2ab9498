#include "velmo/manifest/StandardFileManifest.h"

#include <new>

#include "velmo/manifest/ManifestExceptions.h"
#include "velmo/manifest/ManifestFields.h"

namespace velmo {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

}  // namespace

void StandardFileManifest::Parse(const boost::property_tree::ptree& tree) {
  std::string path = RequiredField(tree, "path");
  const std::uint32_t chunkSize = ParseDecimalUint32(RequiredField(tree, "chunksize"));
  const std::uint64_t size = ParseDecimalUint64(RequiredField(tree, "size"));
  const std::string& text = RequiredField(tree, "checksums");

  if (!IsContainedRelativePath(path)) {
    throw ManifestParseException("file path is empty or leaves the destination folder");
  }
  // "bin/" and "bin/." name a folder: opening them as a file can only fail,
  // so the document is refused here rather than partway through a download.
  const auto lastPart = path.substr(path.rfind('/') + 1);
  if (lastPart.empty() || lastPart == ".") {
    throw ManifestParseException("file path names a folder: " + path);
  }
  if (chunkSize == 0) {
    throw ManifestParseException("file chunk size is 0");
  }
  std::uint32_t count = 0;
  try {
    count = ChunkCount(size, chunkSize);
  } catch (const ManifestOverflowException&) {
    throw ManifestParseException("file has more chunks than fit in 32 bits");
  }
  // The length is checked before anything is reserved: the count comes from
  // the server, and only a text of matching length proves it is real.
  if (text.size() != static_cast<std::uint64_t>(count) * 8) {
    throw ManifestParseException("checksum text does not match the chunk count");
  }
  std::vector<std::uint32_t> checksums;
  checksums.reserve(count);
  for (std::size_t group = 0; group < text.size(); group += 8) {
    std::uint32_t value = 0;
    for (std::size_t i = group; i < group + 8; ++i) {
      const int digit = HexDigit(text[i]);
      if (digit < 0) {
        throw ManifestParseException("checksum text holds a non-hexadecimal digit");
      }
      value = (value << 4) | static_cast<std::uint32_t>(digit);
    }
    checksums.push_back(value);
  }

  // A "sha256" field of the right length and digits marks the strong hashes
  // as present; the chunk checks read the digits themselves. A file without
  // chunks has nothing to pin.
  const auto strong = OptionalField(tree, "sha256");
  bool hasStrongHashes =
      count == 0 || (strong && strong->size() == static_cast<std::uint64_t>(count) * 64);
  for (std::size_t i = 0; strong && hasStrongHashes && i < strong->size(); ++i) {
    hasStrongHashes = HexDigit((*strong)[i]) >= 0;
  }

  path_ = std::move(path);
  chunkSize_ = chunkSize;
  size_ = size;
  checksums_ = std::move(checksums);
  hasStrongHashes_ = hasStrongHashes;
}

}  // namespace velmo
