#include "velmo/engine/TempFileManifestStoreImpl.h"

#include <sys/stat.h>

#include <cerrno>
#include <iterator>
#include <limits>
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

std::shared_ptr<SharedFile> TempFileManifestStoreImpl::Open(const std::string& key,
                                                            bool forWriting) {
  try {
    const std::string temp = TempFolderOrThrow();
    const std::string relative = RelativePath(key);
    CreatePrivateFolders(temp, folder_);
    std::shared_ptr<SharedFile> file = files_->OpenFile(
        temp, relative, forWriting ? FileOpenMode::CreateNew : FileOpenMode::OpenExisting, 0,
        std::numeric_limits<std::uint64_t>::max());
    if (!file) throw ManifestLocatorException("no file for " + key);
    return file;
  } catch (const ManifestLocatorException&) {
    throw;
  } catch (const std::exception& e) {
    throw ManifestLocatorException(std::string("cannot open the document of ") + key + ": " +
                                   e.what());
  } catch (...) {
    throw ManifestLocatorException("cannot open the document of " + key);
  }
}

void TempFileManifestStoreImpl::Fetch(const std::string& key, std::ostream& stream) {
  std::shared_ptr<SharedFile> file = Open(key, false);
  try {
    char buffer[BoundedFileData::kMaxReadSize];
    std::uint64_t total = 0;
    for (;;) {
      const std::uint32_t got = file->Read(buffer, sizeof buffer);
      total += got;
      if (total > kMaxDocumentSize) throw ManifestStreamException("document too large: " + key);
      stream.write(buffer, got);
      if (got < sizeof buffer) break;
    }
    if (!stream) throw ManifestStreamException("cannot buffer the document of " + key);
  } catch (const ManifestStreamException&) {
    throw;
  } catch (const std::exception& e) {
    throw ManifestStreamException(std::string("cannot read the document of ") + key + ": " +
                                  e.what());
  } catch (...) {
    throw ManifestStreamException("cannot read the document of " + key);
  }
}

void TempFileManifestStoreImpl::Put(std::istream& stream, const std::string& key) {
  std::shared_ptr<SharedFile> file = Open(key, true);
  try {
    const std::string text((std::istreambuf_iterator<char>(stream)),
                           std::istreambuf_iterator<char>());
    if (stream.bad()) throw ManifestStreamException("cannot take the document of " + key);
    if (text.size() > kMaxDocumentSize) {
      throw ManifestStreamException("document too large: " + key);
    }
    file->Write(text.data(), static_cast<std::uint32_t>(text.size()));
  } catch (...) {
    // The file was created by this call; a half-written one would block every
    // later Save of the key and fail every Load, so it goes.
    file.reset();
    Remove(key);
    try {
      throw;
    } catch (const ManifestStreamException&) {
      throw;
    } catch (const std::exception& e) {
      throw ManifestStreamException(std::string("cannot write the document of ") + key + ": " +
                                    e.what());
    } catch (...) {
      throw ManifestStreamException("cannot write the document of " + key);
    }
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
