#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace velmo {

// An unnamed file that holds the bytes of a chunk too large for its receive
// buffer until the whole chunk is verified; only then are they copied to
// their destination. It has no name from the start (O_TMPFILE, or a name
// removed at once where the file system cannot do that), so nothing is left
// behind by a crash, and it is gone when closed. Used by one thread at a
// time.
class StagingFile {
 public:
  // Opens it in `folder` (the user's temporary folder when empty); a
  // FileException when that cannot be done.
  explicit StagingFile(const std::string& folder);
  ~StagingFile();
  StagingFile(const StagingFile&) = delete;
  StagingFile& operator=(const StagingFile&) = delete;

  // All `size` bytes at `offset`, or a FileException.
  void WriteAt(std::uint64_t offset, const void* data, std::size_t size);
  // Exactly `size` bytes at `offset`, or a FileException (also for a file
  // shorter than that).
  void ReadAt(std::uint64_t offset, void* data, std::size_t size);
  // For copies within the kernel (SharedFile::CopyFrom).
  int Descriptor() const { return fd_; }

 private:
  int fd_ = -1;
};

}  // namespace velmo
