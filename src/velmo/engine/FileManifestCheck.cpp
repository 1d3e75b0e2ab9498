#include "velmo/engine/FileManifestCheck.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "velmo/file/RangeChecksum.h"
#include "velmo/file/Sha256Hasher.h"
#include "velmo/file/SharedFile.h"
#include "velmo/file/SharedFileFactory.h"
#include "velmo/manifest/FileManifest.h"
#include "velmo/platform/System.h"
#include "velmo/transfer/TransferFileExceptionData.h"

namespace velmo {
namespace {

// Chunks are read in pieces of this size, so that a large chunk size costs
// no more memory than a small one.
constexpr std::size_t kPieceSize = std::size_t{256} * 1024;

}  // namespace

void CheckFileAgainstManifest(SharedFileFactory& files, const std::string& folder,
                              const FileManifest& manifest) {
  const std::string path = JoinPath(folder, manifest.GetPath());
  const std::uint64_t size = manifest.GetSize();
  const std::uint64_t chunkSize = manifest.GetChunkSize();
  const std::vector<std::uint32_t> checksums = manifest.GetChecksums();
  const std::vector<Sha256Digest> sha256s = manifest.GetSha256s();
  try {
    // OpenExisting: a missing file is a failure, not an empty file made here.
    const std::shared_ptr<SharedFile> file = files.OpenFile(
        folder, manifest.GetPath(), FileOpenMode::OpenExisting, 0, size == 0 ? 0 : size - 1);
    const std::uint64_t actualSize = file->GetSize();
    if (actualSize != size) {
      throw FileCheckError(
          TransferError::ChecksumMismatch,
          path + ": " + std::to_string(actualSize) + " bytes, expected " + std::to_string(size));
    }
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(
        std::min<std::uint64_t>(kPieceSize, std::max<std::uint64_t>(chunkSize, 1))));
    Sha256Hasher sha;
    const std::uint32_t count = manifest.GetChunkCount();
    for (std::uint32_t chunk = 0; chunk < count; ++chunk) {
      const std::uint64_t lower = chunk * chunkSize;
      const std::uint64_t length = std::min(chunkSize, size - lower);
      const bool strong = chunk < sha256s.size();
      sha.Reset();
      // A file that shrank while being read cannot match.
      const RangeChecksum read = ReadRangeChecksum(*file, lower, lower + length - 1, buffer.data(),
                                                   buffer.size(), strong ? &sha : nullptr);
      // A chunk the manifest gives no checksum for cannot be vouched for.
      const bool crcGood = read.whole && chunk < checksums.size() && read.crc32 == checksums[chunk];
      if (!crcGood || (strong && sha.Digest() != sha256s[chunk])) {
        throw FileCheckError(TransferError::ChecksumMismatch,
                             path + ": bytes " + std::to_string(lower) + "-" +
                                 std::to_string(lower + length - 1) + " do not match their " +
                                 (crcGood ? "SHA-256" : "CRC-32"),
                             chunk);
      }
    }
  } catch (const FileCheckError&) {
    throw;
  } catch (...) {
    // Classified as a transfer classifies the same failure of the same file.
    const auto failure = MakeTransferFileExceptionData(path);
    throw FileCheckError(failure->ToTransferError(), failure->GetCause());
  }
}

}  // namespace velmo
