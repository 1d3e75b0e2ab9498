#include "velmo/telemetry/LogManager.h"

#include <sys/stat.h>

#include <cerrno>
#include <limits>

#include "velmo/file/FileException.h"
#include "velmo/file/SharedFile.h"
#include "velmo/file/SharedFileFactory.h"
#include "velmo/platform/PrivateFolder.h"
#include "velmo/platform/System.h"
#include "velmo/telemetry/LogFormat.h"
#include "velmo/telemetry/LogLevel.h"

namespace velmo {

namespace {

// A run that finds this many files of the same second already there gives up
// (and loses the line) rather than looping without a bound.
constexpr unsigned kMaxNameAttempts = 1000;

}  // namespace

LogManager::LogManager(std::uint32_t mask, std::string logsFolder, SharedFileFactory* files,
                       unsigned threadCount, Clock clock, std::string tempFolder)
    : EventManager(threadCount),
      mask_(mask),
      logsFolder_(std::move(logsFolder)),
      files_(files),
      clock_(clock ? std::move(clock) : Clock([] { return std::chrono::system_clock::now(); })),
      tempFolder_(std::move(tempFolder)) {}

LogManager::~LogManager() = default;

void LogManager::CloseFile() {
  std::lock_guard<std::mutex> lock(mutex_);
  file_.reset();
}

void LogManager::OpenFile(std::unique_lock<std::mutex>& /*lock*/) {
  if (files_ == nullptr) return;
  const std::string folder = tempFolder_.empty() ? UserTempFolder() : tempFolder_;
  if (folder.empty()) return;
  if (!logsFolder_.empty() && logsFolder_.front() != '/') {
    // The log folders below the temporary folder are the user's alone; one
    // another user could write in (or a link in its place) gets no log.
    try {
      MakePrivateFolders(folder, logsFolder_);
    } catch (const UnsafeFolderError&) {
      return;
    }
  }
  for (unsigned counter = 0; counter < kMaxNameAttempts; ++counter) {
    const std::string name = LogFileName(clock_(), counter);
    try {
      file_ = files_->OpenFile(folder, JoinPath(logsFolder_, name), FileOpenMode::CreateNew, 0,
                               std::numeric_limits<std::uint64_t>::max());
      return;
    } catch (const FileInUseException&) {
      // The name exists (another run in the same second): try the next counter.
    }
  }
}

void LogManager::Write(std::uint32_t level, const std::string& text) {
  if (!LogLevelPasses(level, mask_)) return;
  std::unique_lock<std::mutex> lock(mutex_);
  try {
    if (!file_) OpenFile(lock);
    if (!file_) return;
    // Prefix and text in one write, so a failure never leaves a prefix alone.
    std::string line = LogLinePrefix(clock_());
    line += text;
    const char* data = line.data();
    std::size_t left = line.size();
    while (left > 0) {
      const auto chunk = static_cast<std::uint32_t>(
          std::min<std::size_t>(left, std::numeric_limits<std::uint32_t>::max()));
      const std::uint32_t written = file_->Write(data, chunk);
      if (written == 0) break;
      data += written;
      left -= written;
    }
  } catch (...) {
    // Logging never fails anything: the line is lost.
  }
}

}  // namespace velmo
