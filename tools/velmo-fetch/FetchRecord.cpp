#include "FetchRecord.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "velmo/engine/JsonTempFileManifestStore.h"
#include "velmo/engine/TransferManifest.h"
#include "velmo/file/PosixSharedFileFactory.h"
#include "velmo/manifest/FileManifest.h"
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

bool SaveFetchRecord(const std::string& path, const FetchRecord& record) {
  if (path.empty() || HasLineBreak(record.host) || HasLineBreak(record.state)) return false;
  std::string text = "host=" + record.host + "\nstate=" + record.state +
                     "\ncompleted=" + std::to_string(record.completedBytes) +
                     "\ntotal=" + std::to_string(record.totalBytes) + "\n";
  for (const std::string& file : record.files) {
    if (HasLineBreak(file)) return false;
    text += "file=" + file + "\n";
  }
  std::error_code error;
  fs::create_directories(fs::path(path).parent_path(), error);
  const std::string temp = path + ".tmp." + std::to_string(::getpid());
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) {
      fs::remove(temp, error);
      return false;
    }
  }
  fs::rename(temp, path, error);
  if (error) fs::remove(temp, error);
  return !error;
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
