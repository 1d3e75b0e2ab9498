#include "velmo/file/PosixSharedFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "velmo/file/FileException.h"
#include "velmo/file/PosixMemoryMapView.h"
#include "velmo/manifest/FileManifest.h"
#include "velmo/platform/PrivateFolder.h"

namespace velmo {

namespace fs = std::filesystem;

std::string ResolveContainedPath(const std::string& folder, const std::string& relativePath) {
  if (!IsContainedRelativePath(relativePath)) throw FileBadPathException();
  if (folder.find('\0') != std::string::npos) throw FileBadPathException();
  return (fs::path(folder) / fs::path(relativePath)).lexically_normal().string();
}

PosixSharedFile::PosixSharedFile(const std::string& folder, const std::string& relativePath,
                                 FileOpenMode mode, std::uint64_t first, std::uint64_t last)
    : SharedFile(first, last) {
  CheckBounds(first, last);

  std::error_code ec;
  if (folder.empty() || !fs::is_directory(fs::canonical(folder, ec), ec) || ec) {
    throw FileBadPathException();
  }
  path_ = ResolveContainedPath(folder, relativePath);

  // A link in place of the file is refused: the folders we write into are
  // private, and a link planted there must not redirect a write elsewhere.
  int flags = O_RDWR | O_CLOEXEC | O_NOFOLLOW;
  if (mode == FileOpenMode::CreateNew) {
    flags |= O_CREAT | O_EXCL;
  } else if (mode != FileOpenMode::OpenExisting) {
    flags |= O_CREAT;
  }
  if (mode == FileOpenMode::OpenOrCreate || mode == FileOpenMode::CreateNew) {
    // The folders above a download are the user's alone, like the work folder.
    if (const int error = MakeFoldersWithParents(fs::path(path_).parent_path().string())) {
      ThrowFileError(error);
    }
  }

  int fd;
  do {
    fd = ::open(path_.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) ThrowFileError(errno);
  fd_ = fd;

  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    int error = errno;
    ::close(fd_);
    fd_ = -1;
    // A folder or device in place of the file is a bad path, not an I/O error.
    if (error == 0 || !S_ISREG(st.st_mode)) throw FileBadPathException();
    ThrowFileError(error);
  }
  try {
    SetPosition(first);
  } catch (...) {
    ::close(fd_);
    fd_ = -1;
    throw;
  }
}

PosixSharedFile::~PosixSharedFile() {
  if (fd_ >= 0) ::close(fd_);
}

std::uint64_t PosixSharedFile::GetPosition() {
  off_t pos = ::lseek(fd_, 0, SEEK_CUR);
  if (pos < 0) ThrowFileError(errno);
  return static_cast<std::uint64_t>(pos);
}

void PosixSharedFile::SetPosition(std::uint64_t offset) {
  CheckBounds(offset, offset);
  if (offset > static_cast<std::uint64_t>(INT64_MAX)) throw FileOutOfBoundsException();
  if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) ThrowFileError(errno);
}

std::uint32_t PosixSharedFile::Read(void* buffer, std::uint32_t count) {
  if (count == 0) return 0;
  std::uint32_t n = count < kMaxReadSize ? count : kMaxReadSize;
  CheckAccess(GetPosition(), n);
  ssize_t got;
  do {
    got = ::read(fd_, buffer, n);
  } while (got < 0 && errno == EINTR);
  if (got < 0) ThrowFileError(errno);
  return static_cast<std::uint32_t>(got);
}

std::uint32_t PosixSharedFile::Write(const void* buffer, std::uint32_t count) {
  if (count == 0) return 0;
  CheckAccess(GetPosition(), count);
  const char* p = static_cast<const char*>(buffer);
  std::uint32_t done = 0;
  while (done < count) {
    ssize_t put = ::write(fd_, p + done, count - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      ThrowFileError(errno);
    }
    done += static_cast<std::uint32_t>(put);
  }
  return done;
}

std::uint64_t PosixSharedFile::GetSize() {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) ThrowFileError(errno);
  return static_cast<std::uint64_t>(st.st_size);
}

bool PosixSharedFile::Allocate(std::uint64_t size) {
  if (GetSize() != 0) return false;
  if (size == 0) return true;
  CheckBounds(0, size - 1);
  if (size > static_cast<std::uint64_t>(INT64_MAX)) throw FileInsufficientSpaceException();
  // Reserving the blocks now means a full disk is reported here, not later as
  // a fault while a mapped page is written.
  int error;
  do {
    error = ::posix_fallocate(fd_, 0, static_cast<off_t>(size));
  } while (error == EINTR);
  if (error != 0) {
    // Leave the file empty so that a later attempt starts from scratch.
    if (::ftruncate(fd_, 0) != 0) { /* the original error is the one to report */
    }
    ThrowFileError(error);
  }
  SetPosition(0);
  return true;
}

bool PosixSharedFile::Resize(std::uint64_t size) {
  if (size > static_cast<std::uint64_t>(INT64_MAX)) throw FileInsufficientSpaceException();
  if (size > 0) CheckBounds(0, size - 1);
  const std::uint64_t old = GetSize();
  if (size < old && ::ftruncate(fd_, static_cast<off_t>(size)) != 0) ThrowFileError(errno);
  if (size > old) {
    // As in Allocate: the new blocks are reserved now, so a full disk is
    // reported here. A failed reservation leaves the old size and content.
    int error;
    do {
      error = ::posix_fallocate(fd_, static_cast<off_t>(old), static_cast<off_t>(size - old));
    } while (error == EINTR);
    if (error != 0) {
      if (::ftruncate(fd_, static_cast<off_t>(old)) != 0) { /* report the first error */
      }
      ThrowFileError(error);
    }
  }
  SetPosition(0);
  return true;
}

std::optional<FileIdentity> PosixSharedFile::Identity() {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return std::nullopt;
  return FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

bool PosixSharedFile::AllowExecute() {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return false;
  mode_t mode = st.st_mode & 07777;
  mode_t wanted = mode;
  if (mode & S_IRUSR) wanted |= S_IXUSR;
  if (mode & S_IRGRP) wanted |= S_IXGRP;
  if (mode & S_IROTH) wanted |= S_IXOTH;
  if (wanted == mode) return true;
  return ::fchmod(fd_, wanted) == 0;
}

bool PosixSharedFile::DenyExecute() {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return false;
  mode_t mode = st.st_mode & 07777;
  return ::fchmod(fd_, mode & ~static_cast<mode_t>(S_IXUSR | S_IXGRP | S_IXOTH)) == 0;
}

void PosixSharedFile::CheckRange(std::uint64_t offset, std::size_t size) const {
  if (size == 0) return;
  const std::uint64_t last = offset + (size - 1);
  if (last < offset || last > static_cast<std::uint64_t>(INT64_MAX)) {
    throw FileOutOfBoundsException();
  }
  CheckBounds(offset, last);
}

void PosixSharedFile::WriteAt(std::uint64_t offset, const void* data, std::size_t size) {
  CheckRange(offset, size);
  const char* p = static_cast<const char*>(data);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t put = ::pwrite(fd_, p + done, size - done, static_cast<off_t>(offset + done));
    if (put < 0) {
      if (errno == EINTR) continue;
      ThrowFileError(errno);
    }
    // The blocks were reserved when the file was allocated; a write that
    // makes no progress would otherwise loop for ever.
    if (put == 0) ThrowFileError(ENOSPC);
    done += static_cast<std::size_t>(put);
  }
}

bool PosixSharedFile::CopyFrom(int sourceFd, std::uint64_t sourceOffset, std::uint64_t offset,
                               std::uint64_t size) {
  CheckRange(offset, static_cast<std::size_t>(size));
  auto from = static_cast<off_t>(sourceOffset);
  auto to = static_cast<off_t>(offset);
  for (std::uint64_t done = 0; done < size;) {
    const ssize_t copied =
        ::copy_file_range(sourceFd, &from, fd_, &to, static_cast<std::size_t>(size - done), 0);
    if (copied < 0 && errno == EINTR) continue;
    // Not between these files (another file system, an old kernel): the
    // caller copies through memory instead, from the start.
    if (copied < 0 && done == 0 &&
        (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
      return false;
    }
    if (copied < 0) ThrowFileError(errno);
    if (copied == 0) ThrowFileError(EIO);  // the source is shorter than it should be
    done += static_cast<std::uint64_t>(copied);
  }
  return true;
}

std::size_t PosixSharedFile::ReadAt(std::uint64_t offset, void* data, std::size_t size) {
  CheckRange(offset, size);
  char* p = static_cast<char*>(data);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = ::pread(fd_, p + done, size - done, static_cast<off_t>(offset + done));
    if (got < 0) {
      if (errno == EINTR) continue;
      ThrowFileError(errno);
    }
    if (got == 0) break;  // end of file
    done += static_cast<std::size_t>(got);
  }
  return done;
}

bool PosixSharedFile::Sync() {
  int result;
  do {
    result = ::fsync(fd_);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

std::shared_ptr<MemoryMappedFileData> PosixSharedFile::Map() {
  return Map(LowerBound(), UpperBound());
}

std::shared_ptr<MemoryMappedFileData> PosixSharedFile::Map(std::uint64_t first,
                                                           std::uint64_t last) {
  CheckBounds(first, last);
  CheckRangeSize(first, last);
  // A view may only cover bytes that exist: files are allocated before they
  // are mapped, and touching a page past the end would fault.
  if (last >= GetSize()) throw FileInvalidMapException();
  return std::make_shared<PosixMemoryMapView>(fd_, first, last);
}

}  // namespace velmo
