#include "velmo/engine/TempFileManifestStoreImpl.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iterator>
#include <limits>
#include <new>
#include <random>
#include <sstream>

#include "velmo/file/SharedFile.h"
#include "velmo/file/SharedFileFactory.h"
#include "velmo/manifest/ManifestExceptions.h"
#include "velmo/platform/PrivateFolder.h"
#include "velmo/platform/System.h"

namespace velmo {

namespace {

std::string TempFolderOrThrow() {
  std::string temp = UserTempFolder();
  if (temp.empty()) throw ManifestLocatorException("no temporary folder");
  return temp;
}

// The store's folders hold where the user's downloads go; like the other
// folders below the temporary folder they are the user's alone, and a folder
// someone else controls is refused (UnsafeFolderError) before anything in it
// is read or written.
void CreatePrivateFolders(const std::string& temp, const std::string& relative) {
  MakePrivateFolders(temp, relative);
}

// A name no other writer picks: temporary and set-aside files of several
// processes share the folder. The process id keeps apart a forked child,
// whose generator starts where its parent's stood.
std::string UniqueSuffix() {
  thread_local std::mt19937_64 generator{std::random_device{}()};
  char text[40];
  std::snprintf(text, sizeof text, "%ld-%016llx", static_cast<long>(::getpid()),
                static_cast<unsigned long long>(generator()));
  return text;
}

// Makes the folder's entries (a new link, a removed name) survive a power
// loss. File systems that cannot sync a folder leave the entries to the
// kernel; the document is in place either way.
void SyncFolder(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  while (::fsync(fd) != 0 && errno == EINTR) {
  }
  ::close(fd);
}

}  // namespace

TempFileManifestStoreImpl::TempFileManifestStoreImpl(std::string folder, SharedFileFactory* files)
    : folder_(std::move(folder)), files_(files) {}

std::string TempFileManifestStoreImpl::RelativePath(const std::string& key) const {
  const std::string name = FileName(key);
  // Keys name transfers; one that would reach into another folder (or is no
  // name at all) never names a stored document.
  if (key.empty() || name.empty() || name == "." || name == ".." ||
      name.find('/') != std::string::npos || name.find('\0') != std::string::npos) {
    throw ManifestLocatorException("not a document key: " + key);
  }
  return JoinPath(folder_, name);
}

std::shared_ptr<SharedFile> TempFileManifestStoreImpl::Open(const std::string& key) {
  try {
    const std::string temp = TempFolderOrThrow();
    const std::string relative = RelativePath(key);
    CreatePrivateFolders(temp, folder_);
    std::shared_ptr<SharedFile> file = files_->OpenFile(
        temp, relative, FileOpenMode::OpenExisting, 0, std::numeric_limits<std::uint64_t>::max());
    if (!file) throw ManifestLocatorException("no file for " + key);
    return file;
  } catch (const ManifestLocatorException&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw;  // out of memory stays itself, not a damaged document
  } catch (const std::exception& e) {
    throw ManifestLocatorException(std::string("cannot open the document of ") + key + ": " +
                                   e.what());
  } catch (...) {
    throw ManifestLocatorException("cannot open the document of " + key);
  }
}

void TempFileManifestStoreImpl::Fetch(const std::string& key, std::ostream& stream) {
  std::shared_ptr<SharedFile> file = Open(key);
  try {
    char buffer[BoundedFileData::kMaxReadSize];
    std::uint64_t total = 0;
    for (;;) {
      const std::uint32_t got = file->Read(buffer, sizeof buffer);
      total += got;
      if (total > kMaxDocumentSize) throw ManifestParseException("document too large: " + key);
      stream.write(buffer, got);
      if (got < sizeof buffer) break;
    }
    if (!stream) throw ManifestStreamException("cannot buffer the document of " + key);
  } catch (const ManifestStreamException&) {
    throw;
  } catch (const ManifestParseException&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw;  // out of memory stays itself, not a damaged document
  } catch (const std::exception& e) {
    throw ManifestStreamException(std::string("cannot read the document of ") + key + ": " +
                                  e.what());
  } catch (...) {
    throw ManifestStreamException("cannot read the document of " + key);
  }
}

void TempFileManifestStoreImpl::Put(std::istream& stream, const std::string& key) {
  std::string text;
  try {
    text.assign(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
  } catch (const std::bad_alloc&) {
    throw;  // out of memory stays itself, not a damaged document
  } catch (const std::exception& e) {
    throw ManifestStreamException(std::string("cannot take the document of ") + key + ": " +
                                  e.what());
  }
  if (stream.bad()) throw ManifestStreamException("cannot take the document of " + key);
  if (text.size() > kMaxDocumentSize) throw ManifestStreamException("document too large: " + key);

  const std::string temp = TempFolderOrThrow();
  const std::string relative = RelativePath(key);
  const std::string scratchRelative =
      JoinPath(folder_, "." + FileName(key) + "." + UniqueSuffix() + ".tmp");
  std::shared_ptr<SharedFile> scratch;
  try {
    // A folder that cannot be made, is not the user's alone or refuses a new
    // file: in every case no document can be created there.
    CreatePrivateFolders(temp, folder_);
    scratch = files_->OpenFile(temp, scratchRelative, FileOpenMode::CreateNew, 0,
                               std::numeric_limits<std::uint64_t>::max());
  } catch (const std::bad_alloc&) {
    throw;  // out of memory stays itself, not a damaged document
  } catch (const std::exception& e) {
    throw ManifestLocatorException(std::string("cannot create the document of ") + key + ": " +
                                   e.what());
  }
  if (!scratch) throw ManifestLocatorException("cannot create the document of " + key);
  // The scratch file never outlives this call, whatever happens below.
  struct RemoveScratch {
    SharedFileFactory* files;
    const std::string& temp;
    const std::string& relative;
    ~RemoveScratch() { files->RemoveFile(temp, relative); }
  } removeScratch{files_, temp, scratchRelative};
  try {
    if (scratch->Write(text.data(), static_cast<std::uint32_t>(text.size())) != text.size()) {
      throw ManifestStreamException("short write of the document of " + key);
    }
    if (!scratch->Sync()) throw ManifestStreamException("cannot sync the document of " + key);
  } catch (const ManifestStreamException&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw;  // out of memory stays itself, not a damaged document
  } catch (const std::exception& e) {
    throw ManifestStreamException(std::string("cannot write the document of ") + key + ": " +
                                  e.what());
  }
  scratch.reset();
  const std::string target = JoinPath(temp, relative);
  if (::link(JoinPath(temp, scratchRelative).c_str(), target.c_str()) != 0) {
    if (errno == EEXIST) throw ManifestLocatorException("a document exists for " + key);
    throw ManifestStreamException("cannot place the document of " + key);
  }
  files_->RemoveFile(temp, scratchRelative);
  SyncFolder(JoinPath(temp, folder_));
}

bool TempFileManifestStoreImpl::SetAside(const std::string& key, std::string* asideName) {
  try {
    const std::string temp = TempFolderOrThrow();
    const std::string name = FileName(key) + "." + UniqueSuffix() + ".broken";
    const std::string from = JoinPath(temp, RelativePath(key));
    const std::string to = JoinPath(temp, JoinPath(folder_, name));
    if (::rename(from.c_str(), to.c_str()) != 0) return false;
    SyncFolder(JoinPath(temp, folder_));
    if (asideName != nullptr) *asideName = name;
    return true;
  } catch (...) {
    return false;
  }
}

bool TempFileManifestStoreImpl::Exists(const std::string& key) const {
  try {
    const std::string path = JoinPath(TempFolderOrThrow(), RelativePath(key));
    struct stat st {};
    // Only a name that is certainly not there is absent: a folder that cannot
    // be searched hides what it holds.
    return ::lstat(path.c_str(), &st) == 0 || (errno != ENOENT && errno != ENOTDIR);
  } catch (...) {
    return false;
  }
}

bool TempFileManifestStoreImpl::Remove(const std::string& key) {
  try {
    return files_->RemoveFile(TempFolderOrThrow(), RelativePath(key));
  } catch (...) {
    return false;
  }
}

}  // namespace velmo
