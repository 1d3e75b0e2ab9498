#include "velmo/platform/PrivateFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "velmo/platform/System.h"

namespace velmo {
namespace {

std::vector<std::string> Components(const std::string& relative) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= relative.size()) {
    std::size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    std::string part = relative.substr(start, end - start);
    if (!part.empty() && part != ".") parts.push_back(std::move(part));
    start = end + 1;
  }
  return parts;
}

// Owns one descriptor.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  void Reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  int Get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

int MakeFoldersWithParents(const std::string& folder) {
  if (folder.empty()) return ENOENT;
  std::string path = folder.front() == '/' ? "/" : "";
  for (const std::string& part : Components(folder)) {
    path = JoinPath(path, part);
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return errno;
  }
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) return errno;
  return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

void MakePrivateFolders(const std::string& base, const std::string& relative, uid_t owner) {
  if (base.empty()) throw UnsafeFolderError(relative, "no temporary folder");
  if (const int error = MakeFoldersWithParents(base)) {
    throw UnsafeFolderError(base, "cannot be made: " + ErrnoText(error));
  }
  Fd parent(::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (parent.Get() < 0) throw UnsafeFolderError(base, "cannot be opened: " + ErrnoText(errno));
  std::string path = base;
  for (const std::string& part : Components(relative)) {
    path = JoinPath(path, part);
    if (part == "..") throw UnsafeFolderError(path, "leads out of its folder");
    if (::mkdirat(parent.Get(), part.c_str(), 0700) != 0 && errno != EEXIST) {
      throw UnsafeFolderError(path, "cannot be made: " + ErrnoText(errno));
    }
    const int fd =
        ::openat(parent.Get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
      const int error = errno;
      if (error == ELOOP || error == ENOTDIR) {
        throw UnsafeFolderError(path, "is not a folder (a link or a file is in its place)");
      }
      throw UnsafeFolderError(path, "cannot be opened: " + ErrnoText(error));
    }
    parent.Reset(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0) throw UnsafeFolderError(path, "cannot be read: " + ErrnoText(errno));
    if (st.st_uid != owner) throw UnsafeFolderError(path, "belongs to another user");
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
      throw UnsafeFolderError(path, "may be written by other users");
    }
  }
}

void MakePrivateFolders(const std::string& base, const std::string& relative) {
  MakePrivateFolders(base, relative, ::geteuid());
}

void MakePrivateFolderPath(const std::string& folder) {
  std::string temp = UserTempFolder();
  while (temp.size() > 1 && temp.back() == '/') temp.pop_back();
  if (!temp.empty() && folder.size() > temp.size() && folder.compare(0, temp.size(), temp) == 0 &&
      folder[temp.size()] == '/') {
    MakePrivateFolders(temp, folder.substr(temp.size() + 1));
    return;
  }
  if (const int error = MakeFoldersWithParents(folder)) {
    throw UnsafeFolderError(folder, "cannot be made: " + ErrnoText(error));
  }
}

}  // namespace velmo
