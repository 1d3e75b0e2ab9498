#include "velmo/platform/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "velmo/platform/System.h"

namespace velmo {

namespace {

// The note of the holder; empty when it has not written one yet.
std::string ReadNote(int fd) {
  std::string note;
  char buffer[512];
  for (off_t at = 0; note.size() < 4096;) {
    const ssize_t got = ::pread(fd, buffer, sizeof buffer, at);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    note.append(buffer, static_cast<std::size_t>(got));
    at += got;
  }
  while (!note.empty() && (note.back() == '\n' || note.back() == '\0')) note.pop_back();
  return note;
}

}  // namespace

FileLock::~FileLock() { Release(); }

void FileLock::Release() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

FileLock::Result FileLock::Take(const std::string& path, const std::string& note,
                                const std::function<bool()>& keepWaiting) {
  Release();
  detail_.clear();
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    detail_ = path + ": " + ErrnoText(errno);
    return Result::Failed;
  }
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    if (error == EINTR) continue;
    if (error != EWOULDBLOCK) {
      detail_ = path + ": " + ErrnoText(error);
      ::close(fd);
      return Result::Failed;
    }
    // Polled rather than blocking in flock: a blocking call that a signal
    // arrives just before would never return to look at it.
    if (!keepWaiting) {
      detail_ = ReadNote(fd);
      ::close(fd);
      return Result::Busy;
    }
    if (!keepWaiting()) {
      ::close(fd);
      return Result::Interrupted;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  fd_ = fd;
  // The note is only advice for people; a lock whose note cannot be written
  // still excludes the others.
  if (::ftruncate(fd, 0) == 0) {
    std::size_t done = 0;
    while (done < note.size()) {
      const ssize_t wrote =
          ::pwrite(fd, note.data() + done, note.size() - done, static_cast<off_t>(done));
      if (wrote < 0 && errno == EINTR) continue;
      if (wrote <= 0) break;
      done += static_cast<std::size_t>(wrote);
    }
  }
  return Result::Taken;
}

}  // namespace velmo
