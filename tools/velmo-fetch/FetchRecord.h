#pragma once

// velmo-fetch's own notes on a transfer, kept beside the engine's stored
// transfer (<temp>/<transfers folder>/<id>.fetch next to <id>.json) so that the
// engine's stored format stays as it is: the manifest host the transfer was
// started with, its last known state and bytes, and the files of its package.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "velmo/engine/ManifestStore.h"
#include "velmo/engine/TransferParams.h"
#include "velmo/platform/FileLock.h"

namespace velmo::fetch {

struct FetchRecord {
  std::string host;   // manifest host the transfer was created with
  std::string state;  // the state's name when the record was last written
  std::uint64_t completedBytes = 0;
  std::uint64_t totalBytes = 0;    // 0 until the package manifest was read
  std::vector<std::string> files;  // the package's files, relative to the folder
};

// Absolute path of the transfer's record; `transfersFolder` is the engine's,
// relative to the temporary folder. Empty without a temporary folder.
std::string FetchRecordPath(const std::string& transfersFolder, const std::string& transferId);

// Written atomically (a temporary name, then a rename); false on failure or
// for a value with a line break, which the line format cannot carry, and
// then `error` (when given) says why.
bool SaveFetchRecord(const std::string& path, const FetchRecord& record,
                     std::string* error = nullptr);
// False when the file is missing or unreadable; unknown lines are skipped.
bool LoadFetchRecord(const std::string& path, FetchRecord& record);

// Absolute path of the engine's stored document of a transfer.
std::string StoredTransferPath(const std::string& transfersFolder, const std::string& transferId);

// Whether the engine has the transfer stored; on Unreadable and Unusable
// `reason` says what is wrong with the document.
StoredDocument InspectStoredTransfer(const std::string& transfersFolder,
                                     const std::string& transferId, std::string& reason);

// Transfer ids the engine makes: letters and digits, nothing that could name
// another file.
bool IsTransferIdText(const std::string& text);

// The locks that keep two runs from downloading into one folder, or driving
// one stored transfer, at once: files in a private folder beside the stored
// transfers. The destination's is named after its canonical path.
std::string DestinationLockName(const std::string& canonicalDest);
std::string TransferLockName(const std::string& transferId);
// Takes the named lock (see FileLock::Take); `path` receives the lock file's
// path and `detail` the lock's Detail(). Failed also when the private
// folder cannot be made, `detail` then saying why.
FileLock::Result TakeFetchLock(FileLock& lock, const std::string& transfersFolder,
                               const std::string& name, const std::string& note,
                               const std::function<bool()>& keepWaiting, std::string& path,
                               std::string& detail);

struct StoredTransferEntry {
  TransferParams params;
  bool hasRecord = false;
  FetchRecord record;
};

// Every transfer stored in `transfersFolder` (relative to the temporary
// folder), sorted by id; documents that do not parse are left out.
std::vector<StoredTransferEntry> ListStoredTransfers(const std::string& transfersFolder);

// Forgets a stored transfer: its document and its record. With `deleteFiles`
// the package's files named in the record are removed from the folder too,
// and the folders they leave empty below it. Returns false when no such
// transfer is stored; `message` then says why, or else what was left alone.
bool DiscardStoredTransfer(const std::string& transfersFolder, const std::string& transferId,
                           bool deleteFiles, std::string& message);

}  // namespace velmo::fetch
