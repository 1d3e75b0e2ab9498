#pragma once

// Documents stored as files, one per key, in a folder below the user's
// temporary folder (looked up afresh for every operation). The file format is
// left to a derived class (Parse, Serialize, FileName).
//
// No lock: different keys use different files, and a key is written, read and
// removed by one thread at a time (the transfer it names, or the transfer
// manager under its own lock).

#include <cstdint>
#include <memory>
#include <string>

#include "velmo/engine/ManifestStoreImpl.h"

namespace velmo {

class SharedFile;
class SharedFileFactory;

class TempFileManifestStoreImpl : public ManifestStoreImpl {
 public:
  // Stored documents are a few hundred bytes; a file far beyond that is not
  // one of ours and is refused rather than read into memory.
  static constexpr std::uint64_t kMaxDocumentSize = 1 << 20;

  // `folder` is relative to the temporary folder; `files` is not owned.
  TempFileManifestStoreImpl(std::string folder, SharedFileFactory* files);

  // Reads the key's file into `stream`. ManifestLocatorException when it
  // cannot be opened, ManifestStreamException when reading fails,
  // ManifestParseException when the file is larger than kMaxDocumentSize.
  void Fetch(const std::string& key, std::ostream& stream) override;
  // Writes `stream`'s text to a new file for the key; an existing file is
  // left untouched (ManifestLocatorException). ManifestLocatorException too
  // when the folder cannot hold a new file (it cannot be made, is not the
  // user's alone, or refuses the file); ManifestStreamException when writing
  // fails.
  //
  // The text goes to a temporary file in the same folder, which is synced and
  // then linked under the key's name (link, unlike rename, never replaces an
  // existing file, so the first document stays), and the folder is synced. A
  // process killed at any moment leaves the key's file whole or absent; at
  // worst a temporary file (".<name>.<suffix>.tmp") stays behind.
  void Put(std::istream& stream, const std::string& key) override;
  // The key's file name inside the folder.
  virtual std::string FileName(const std::string& key) const = 0;

  // True when something is in the place of the key's file, even what cannot
  // be opened or read (false also for a key that is not a plain name).
  bool Exists(const std::string& key) const;

  // Deletes the key's file; false when there was none or it stayed.
  bool Remove(const std::string& key);

  // Renames the key's file to "<name>.<suffix>.broken" in the same folder;
  // `asideName` receives the new name. False when there was none or it
  // stayed.
  bool SetAside(const std::string& key, std::string* asideName);

 private:
  // The file of `key`, opened for reading.
  std::shared_ptr<SharedFile> Open(const std::string& key);
  // The key's path relative to the temporary folder; throws
  // ManifestLocatorException for a key that is not a plain file name.
  std::string RelativePath(const std::string& key) const;

  const std::string folder_;
  SharedFileFactory* const files_;
};

}  // namespace velmo
