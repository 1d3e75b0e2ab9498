#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "velmo/file/BoundedFileData.h"

namespace velmo {

class MemoryMappedFileData;

// Which file a path or handle names (device and inode): a path that names
// another identity than the handle's was deleted, moved or replaced.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  bool operator==(const FileIdentity& other) const {
    return device == other.device && inode == other.inode;
  }
  bool operator!=(const FileIdentity& other) const { return !(*this == other); }
};

// A destination file opened once and shared by every chunk pipeline of it.
// The handle-based position, Read and Write are for one user at a time (open
// and allocate); concurrent users each take their own view with Map, or use
// the positional ReadAt and WriteAt, which share no position and may be
// called from any number of threads at once.
class SharedFile : public BoundedFileData {
 public:
  virtual std::uint64_t GetSize() = 0;
  // Reserves `size` bytes in an empty file. Returns false, changing nothing,
  // when the file already has content.
  virtual bool Allocate(std::uint64_t size) = 0;
  // Gives a file that already has content exactly `size` bytes: cut short, or
  // extended with reserved zero bytes. The bytes below both sizes stay as they
  // were, so chunks written there by an earlier run can still be checked and
  // kept. False, changing nothing, when this file cannot; a FileException
  // when the change fails (a full disk).
  virtual bool Resize(std::uint64_t /*size*/) { return false; }
  // Lets the file be executed again; true when it is (or already was) allowed.
  virtual bool AllowExecute() = 0;
  // Keeps a half-written program from being started; true on success.
  virtual bool DenyExecute() = 0;
  // Writes all `size` bytes at `offset`, which must lie inside the bounds, or
  // throws a FileException.
  virtual void WriteAt(std::uint64_t offset, const void* data, std::size_t size) = 0;
  // Copies `size` bytes at `sourceOffset` of the open file `sourceFd` to
  // `offset` (inside the bounds) within the kernel, without passing them
  // through user memory. False, with nothing written, when this file cannot
  // (the caller then copies through a buffer with WriteAt); a FileException
  // when a copy that began fails.
  virtual bool CopyFrom(int /*sourceFd*/, std::uint64_t /*sourceOffset*/, std::uint64_t /*offset*/,
                        std::uint64_t /*size*/) {
    return false;
  }
  // Reads up to `size` bytes at `offset` (inside the bounds); returns the
  // count read, less than `size` only at the end of the file.
  virtual std::size_t ReadAt(std::uint64_t offset, void* data, std::size_t size) = 0;
  // The file the handle has open; empty where that cannot be told.
  virtual std::optional<FileIdentity> Identity() { return std::nullopt; }
  // Waits until what was written is on the disk (fsync); true on success.
  virtual bool Sync() = 0;
  virtual std::shared_ptr<MemoryMappedFileData> Map() = 0;
  virtual std::shared_ptr<MemoryMappedFileData> Map(std::uint64_t first, std::uint64_t last) = 0;

 protected:
  using BoundedFileData::BoundedFileData;
};

}  // namespace velmo
