#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "velmo/file/FileOpenMode.h"
#include "velmo/file/SharedFile.h"

namespace velmo {

// A file below a folder, opened read-write with O_CLOEXEC (a launched program
// inherits no descriptor). Open from construction to destruction; views cut
// from it with Map stay valid after it is closed. Threads: Map may be called
// by any number of chunk pipelines at once (each mmap is independent, so no
// lock is needed); the position-based Read/Write are for one user at a time.
class PosixSharedFile : public SharedFile {
 public:
  // `relativePath` must stay inside `folder` (see IsContainedRelativePath) and
  // `folder` must exist; parent folders of the file are created for the two
  // creating modes.
  PosixSharedFile(const std::string& folder, const std::string& relativePath, FileOpenMode mode,
                  std::uint64_t first, std::uint64_t last);
  ~PosixSharedFile() override;

  std::uint64_t GetPosition() override;
  void SetPosition(std::uint64_t offset) override;
  std::uint32_t Read(void* buffer, std::uint32_t count) override;
  std::uint32_t Write(const void* buffer, std::uint32_t count) override;

  std::uint64_t GetSize() override;
  bool Allocate(std::uint64_t size) override;
  bool Resize(std::uint64_t size) override;
  std::optional<FileIdentity> Identity() override;
  bool AllowExecute() override;
  bool DenyExecute() override;
  void WriteAt(std::uint64_t offset, const void* data, std::size_t size) override;
  std::size_t ReadAt(std::uint64_t offset, void* data, std::size_t size) override;
  bool CopyFrom(int sourceFd, std::uint64_t sourceOffset, std::uint64_t offset,
                std::uint64_t size) override;
  bool Sync() override;
  std::shared_ptr<MemoryMappedFileData> Map() override;
  std::shared_ptr<MemoryMappedFileData> Map(std::uint64_t first, std::uint64_t last) override;

  const std::string& Path() const { return path_; }

 private:
  // FileOutOfBoundsException unless offset..offset+size-1 lies inside.
  void CheckRange(std::uint64_t offset, std::size_t size) const;

  int fd_ = -1;
  std::string path_;
};

// Full path of `relativePath` below `folder`, or FileBadPathException when the
// relative path is empty, absolute, has a ".." component or holds a NUL byte.
std::string ResolveContainedPath(const std::string& folder, const std::string& relativePath);

}  // namespace velmo
