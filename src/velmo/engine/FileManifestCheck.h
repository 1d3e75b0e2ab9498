#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "velmo/transfer/TransferError.h"

namespace velmo {

class FileManifest;
class SharedFileFactory;

// A file on disk that is not the one its manifest describes, or that could
// not be read to tell. Bytes or a size that differ are ChecksumMismatch; a
// file that cannot be opened or read carries the code a transfer gives the
// same failure (FileAccessError for a missing file). what() is the cause, for
// people.
class FileCheckError : public std::runtime_error {
 public:
  FileCheckError(TransferError error, const std::string& cause,
                 std::optional<std::uint32_t> chunk = std::nullopt)
      : std::runtime_error(cause), error_(error), chunk_(chunk) {}

  TransferError Error() const { return error_; }
  // The first chunk whose bytes differ; none when the whole file failed (its
  // size, or reading it).
  std::optional<std::uint32_t> Chunk() const { return chunk_; }

 private:
  TransferError error_;
  std::optional<std::uint32_t> chunk_;
};

// Reads the manifest's file below `folder` back from disk and checks it
// whole: its size, the CRC-32 of every chunk and, where the manifest has one,
// the chunk's SHA-256. Returns when all match; throws FileCheckError at the
// first that does not. The transfer checked the same bytes when it wrote
// them; this is for the moment a file is about to be trusted again (a program
// about to be started), since anything could have changed it since.
void CheckFileAgainstManifest(SharedFileFactory& files, const std::string& folder,
                              const FileManifest& manifest);

}  // namespace velmo
