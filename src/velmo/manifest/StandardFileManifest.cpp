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

// One digest per 64 digits; the length must be 64 times the chunk count. A
// present but empty text is refused for a file with chunks: a document that
// names the field means to pin every chunk.
std::vector<Sha256Digest> ParseSha256s(const std::string& text, std::uint32_t count) {
  if (text.size() != static_cast<std::uint64_t>(count) * 64) {
    throw ManifestParseException("sha256 text does not match the chunk count");
  }
  std::vector<Sha256Digest> digests(count);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int high = HexDigit(text[i]);
    const int low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) {
      throw ManifestParseException("sha256 text holds a non-hexadecimal digit");
    }
    digests[i / 64][(i % 64) / 2] = static_cast<std::uint8_t>((high << 4) | low);
  }
  return digests;
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

  std::vector<Sha256Digest> sha256s;
  if (const auto strong = OptionalField(tree, "sha256")) sha256s = ParseSha256s(*strong, count);

  path_ = std::move(path);
  chunkSize_ = chunkSize;
  size_ = size;
  checksums_ = std::move(checksums);
  sha256s_ = std::move(sha256s);
}

}  // namespace velmo
