#pragma once

// The work log: one text file per process run below the user's temporary
// folder, one line per record, "[%Y-%m-%d %H:%M:%S] " (UTC) and a compact JSON
// object. Records are formatted and written on the log's own threads (2 in the
// program); producers only queue works.
//
// Threads: Write is called by the log's threads (JsonLogEventWork). `mutex_`
// guards `file_` and serializes opening the file and writing one line, so lines
// never interleave. The mask, folder names, factory and clock are fixed at
// construction and read without the lock.
//
// Destruction (in the derived classes) joins the threads first, so every
// record already handed over is written; then the file is closed.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "velmo/telemetry/EventManager.h"

namespace velmo {

class SharedFile;
class SharedFileFactory;

class LogManager : public EventManager {
 public:
  using Clock = std::function<std::chrono::system_clock::time_point()>;
  static constexpr unsigned kThreadCount = 2;

  ~LogManager() override;

  // Appends one line (prefix and `text`, which ends with its own line feed)
  // when `level` passes the mask. Failures only lose the line; the next line
  // tries to open the file again if it is not open.
  void Write(std::uint32_t level, const std::string& text);

  std::uint32_t GetMask() const { return mask_; }

 protected:
  // `tempFolder` empty: the user's temporary folder, looked up when the file is
  // first opened. `clock` empty: the system clock.
  LogManager(std::uint32_t mask, std::string logsFolder, SharedFileFactory* files,
             unsigned threadCount = kThreadCount, Clock clock = Clock(),
             std::string tempFolder = std::string());

  // Drops the file; called by the derived destructors after the join.
  void CloseFile();

 private:
  void OpenFile(std::unique_lock<std::mutex>& lock);

  std::mutex mutex_;
  const std::uint32_t mask_;
  const std::string logsFolder_;
  SharedFileFactory* const files_;
  const Clock clock_;
  const std::string tempFolder_;
  std::shared_ptr<SharedFile> file_;  // guarded by mutex_
};

}  // namespace velmo
