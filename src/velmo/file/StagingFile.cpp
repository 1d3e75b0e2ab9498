#include "velmo/file/StagingFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "velmo/file/FileException.h"
#include "velmo/platform/System.h"

namespace velmo {

StagingFile::StagingFile(const std::string& folder) {
  const std::string where = folder.empty() ? UserTempFolder() : folder;
  fd_ = ::open(where.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, S_IRUSR | S_IWUSR);
  if (fd_ < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    // A file system without unnamed files: a private name, removed at once.
    std::string name = JoinPath(where, "velmo-staging-XXXXXX");
    std::vector<char> path(name.begin(), name.end());
    path.push_back('\0');
    fd_ = ::mkostemp(path.data(), O_CLOEXEC);
    if (fd_ >= 0) ::unlink(path.data());
  }
  if (fd_ < 0) ThrowFileError(errno);
}

StagingFile::~StagingFile() {
  if (fd_ >= 0) ::close(fd_);
}

void StagingFile::WriteAt(std::uint64_t offset, const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  for (std::size_t done = 0; done < size;) {
    const ssize_t put = ::pwrite(fd_, p + done, size - done, static_cast<off_t>(offset + done));
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) ThrowFileError(errno);
    if (put == 0) ThrowFileError(ENOSPC);
    done += static_cast<std::size_t>(put);
  }
}

void StagingFile::ReadAt(std::uint64_t offset, void* data, std::size_t size) {
  char* p = static_cast<char*>(data);
  for (std::size_t done = 0; done < size;) {
    const ssize_t got = ::pread(fd_, p + done, size - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) ThrowFileError(errno);
    if (got == 0) ThrowFileError(EIO);  // shorter than what was staged: never expected
    done += static_cast<std::size_t>(got);
  }
}

}  // namespace velmo
