#include "FetchRecord.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "velmo/engine/JsonTempFileManifestStore.h"
#include "velmo/engine/TransferManifest.h"
#include "velmo/file/PosixSharedFileFactory.h"
#include "velmo/file/Sha256Hasher.h"
#include "velmo/manifest/FileManifest.h"
#include "velmo/platform/PrivateFolder.h"
#include "velmo/platform/System.h"

namespace velmo::fetch {

namespace fs = std::filesystem;

namespace {

constexpr char kRecordSuffix[] = ".fetch";
constexpr char kStoredSuffix[] = ".json";

bool HasLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

std::string StoreFolder(const std::string& transfersFolder) {
  const std::string temp = UserTempFolder();
  return temp.empty() ? std::string() : JoinPath(temp, transfersFolder);
}

bool ParseCount(const std::string& text, std::uint64_t& out) {
  if (text.empty() || text.size() > 20) return false;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  out = value;
  return true;
}

}  // namespace

std::string FetchRecordPath(const std::string& transfersFolder, const std::string& transferId) {
  const std::string folder = StoreFolder(transfersFolder);
  if (folder.empty()) return std::string();
  return JoinPath(folder, transferId + kRecordSuffix);
}

bool SaveFetchRecord(const std::string& path, const FetchRecord& record, std::string* error) {
  const auto fail = [&](const std::string& why) {
    if (error != nullptr) *error = why;
    return false;
  };
  if (path.empty()) return fail("no temporary folder");
  if (HasLineBreak(record.host) || HasLineBreak(record.state)) {
    return fail(path + ": a value holds a line break");
  }
  std::string text = "host=" + record.host + "\nstate=" + record.state +
                     "\ncompleted=" + std::to_string(record.completedBytes) +
                     "\ntotal=" + std::to_string(record.totalBytes) + "\n";
  for (const std::string& file : record.files) {
    if (HasLineBreak(file)) return fail(path + ": a file name holds a line break");
    text += "file=" + file + "\n";
  }
  std::error_code ignored;
  fs::create_directories(fs::path(path).parent_path(), ignored);
  const std::string temp = path + ".tmp." + std::to_string(::getpid());
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) {
      const int cause = errno;
      fs::remove(temp, ignored);
      return fail("cannot write " + temp + ": " + ErrnoText(cause));
    }
  }
  std::error_code renamed;
  fs::rename(temp, path, renamed);
  if (renamed) {
    fs::remove(temp, ignored);
    return fail("cannot rename " + temp + " to " + path + ": " + renamed.message());
  }
  return true;
}

bool LoadFetchRecord(const std::string& path, FetchRecord& record) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  FetchRecord loaded;
  for (std::string line; std::getline(in, line);) {
    const auto equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals);
    const std::string value = line.substr(equals + 1);
    if (key == "host") {
      loaded.host = value;
    } else if (key == "state") {
      loaded.state = value;
    } else if (key == "completed") {
      ParseCount(value, loaded.completedBytes);
    } else if (key == "total") {
      ParseCount(value, loaded.totalBytes);
    } else if (key == "file") {
      loaded.files.push_back(value);
    }
  }
  if (in.bad()) return false;
  record = std::move(loaded);
  return true;
}

std::string StoredTransferPath(const std::string& transfersFolder, const std::string& transferId) {
  const std::string folder = StoreFolder(transfersFolder);
  return folder.empty() ? std::string() : JoinPath(folder, transferId + kStoredSuffix);
}

StoredDocument InspectStoredTransfer(const std::string& transfersFolder,
                                     const std::string& transferId, std::string& reason) {
  PosixSharedFileFactory files;
  JsonTempFileManifestStore<TransferManifest> store(transfersFolder, &files);
  TransferManifest manifest;
  StoredDocument found = store.TryLoad(transferId, manifest, &reason);
  if (found == StoredDocument::Loaded && manifest.params.transferId != transferId) {
    reason = "the document names transfer " + manifest.params.transferId;
    found = StoredDocument::Unusable;
  }
  return found;
}

bool IsTransferIdText(const std::string& text) {
  return !text.empty() && text.size() <= 64 && std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  });
}

std::string DestinationLockName(const std::string& canonicalDest) {
  // A path can be longer than a file name may be, and hold any byte.
  return "dest-" + Sha256Hex(Sha256Of(canonicalDest.data(), canonicalDest.size())).substr(0, 32) +
         ".lock";
}

std::string TransferLockName(const std::string& transferId) {
  return "transfer-" + transferId + ".lock";
}

FileLock::Result TakeFetchLock(FileLock& lock, const std::string& transfersFolder,
                               const std::string& name, const std::string& note,
                               const std::function<bool()>& keepWaiting, std::string& path,
                               std::string& detail) {
  // Beside the stored transfers, in a folder as private as theirs: whoever
  // could replace a lock file could keep every run out.
  const std::string relative =
      (fs::path(transfersFolder).parent_path() / "locks").lexically_normal().string();
  const std::string temp = UserTempFolder();
  path = temp.empty() ? name : JoinPath(JoinPath(temp, relative), name);
  try {
    MakePrivateFolders(temp, relative);
  } catch (const UnsafeFolderError& e) {
    detail = e.what();
    return FileLock::Result::Failed;
  }
  const FileLock::Result result = lock.Take(path, note, keepWaiting);
  detail = lock.Detail();
  return result;
}

std::vector<StoredTransferEntry> ListStoredTransfers(const std::string& transfersFolder) {
  std::vector<StoredTransferEntry> entries;
  const std::string folder = StoreFolder(transfersFolder);
  if (folder.empty()) return entries;
  PosixSharedFileFactory files;
  JsonTempFileManifestStore<TransferManifest> store(transfersFolder, &files);
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const fs::path& path = it->path();
    if (path.extension() != kStoredSuffix) continue;
    const std::string id = path.stem().string();
    TransferManifest manifest;
    if (!store.Load(id, manifest) || manifest.params.transferId != id) continue;
    StoredTransferEntry entry;
    entry.params = manifest.params;
    entry.hasRecord = LoadFetchRecord(FetchRecordPath(transfersFolder, id), entry.record);
    entries.push_back(std::move(entry));
  }
  std::sort(entries.begin(), entries.end(),
            [](const StoredTransferEntry& a, const StoredTransferEntry& b) {
              return a.params.transferId < b.params.transferId;
            });
  return entries;
}

bool DiscardStoredTransfer(const std::string& transfersFolder, const std::string& transferId,
                           bool deleteFiles, std::string& message) {
  message.clear();
  PosixSharedFileFactory files;
  JsonTempFileManifestStore<TransferManifest> store(transfersFolder, &files);
  TransferManifest manifest;
  if (!store.Load(transferId, manifest) || manifest.params.transferId != transferId) {
    message = "no stored transfer '" + transferId + "'";
    return false;
  }
  const std::string recordPath = FetchRecordPath(transfersFolder, transferId);
  FetchRecord record;
  const bool hasRecord = LoadFetchRecord(recordPath, record);
  if (deleteFiles) {
    const std::string dest = manifest.params.destPath;
    if (dest.empty()) {
      message = "the transfer was never started; there are no files to delete";
    } else if (!hasRecord || record.files.empty()) {
      message = "the transfer's files are not known; nothing deleted in " + dest;
    } else {
      std::size_t removed = 0;
      std::error_code error;
      for (const std::string& file : record.files) {
        // Only paths inside the folder: a record is a file anyone could edit.
        if (!IsContainedRelativePath(file)) continue;
        fs::path path = fs::path(dest) / file;
        if (fs::remove(path, error)) ++removed;
        // The folders the package made, when nothing else is left in them.
        for (fs::path parent = path.parent_path();
             parent.string().size() > dest.size() && fs::is_empty(parent, error) && !error;
             parent = parent.parent_path()) {
          if (!fs::remove(parent, error)) break;
        }
      }
      message = std::to_string(removed) + " files deleted from " + dest;
    }
  }
  store.Remove(transferId);
  std::error_code error;
  fs::remove(recordPath, error);
  return true;
}

}  // namespace velmo::fetch
