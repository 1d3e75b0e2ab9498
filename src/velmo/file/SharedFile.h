#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "velmo/file/BoundedFileData.h"

namespace velmo {

class MemoryMappedFileData;

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
  // Waits until what was written is on the disk (fsync); true on success.
  virtual bool Sync() = 0;
  virtual std::shared_ptr<MemoryMappedFileData> Map() = 0;
  virtual std::shared_ptr<MemoryMappedFileData> Map(std::uint64_t first, std::uint64_t last) = 0;

 protected:
  using BoundedFileData::BoundedFileData;
};

}  // namespace velmo
