#include "velmo/file/PosixSharedFileFactory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "velmo/file/PosixSharedFile.h"

namespace velmo {

std::shared_ptr<SharedFile> PosixSharedFileFactory::OpenFile(const std::string& folder,
                                                             const std::string& relativePath,
                                                             FileOpenMode mode, std::uint64_t first,
                                                             std::uint64_t last) {
  return std::make_shared<PosixSharedFile>(folder, relativePath, mode, first, last);
}

bool PosixSharedFileFactory::RemoveFile(const std::string& folder,
                                        const std::string& relativePath) {
  try {
    return ::unlink(ResolveContainedPath(folder, relativePath).c_str()) == 0;
  } catch (...) {
    return false;
  }
}

std::optional<FileIdentity> PosixSharedFileFactory::PathIdentity(const std::string& folder,
                                                                 const std::string& relativePath) {
  try {
    struct stat st {};
    if (::lstat(ResolveContainedPath(folder, relativePath).c_str(), &st) != 0 ||
        !S_ISREG(st.st_mode)) {
      return std::nullopt;
    }
    return FileIdentity{static_cast<std::uint64_t>(st.st_dev),
                        static_cast<std::uint64_t>(st.st_ino)};
  } catch (...) {
    return std::nullopt;
  }
}

bool PosixSharedFileFactory::IsExecutable(const std::string& /*folder*/,
                                          const std::string& relativePath) {
  // Windows program types stay recognised because packages are shared across
  // platforms; the Linux ones are scripts and self-contained bundles.
  static const char* const kExtensions[] = {".exe", ".bat", ".com", ".cmd",     ".msi",
                                            ".vbs", ".sh",  ".run", ".AppImage"};
  std::string extension = std::filesystem::path(relativePath).extension().string();
  for (const char* e : kExtensions) {
    if (extension == e) return true;
  }
  return false;
}

}  // namespace velmo
