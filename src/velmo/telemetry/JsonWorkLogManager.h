#pragma once

#include <cstdint>
#include <memory>

#include "velmo/telemetry/WorkLogManager.h"

namespace velmo {

// The engine's work log: records are JsonLogEventWorks; completions and retries
// of works are formatted by SetUpOnCompleteWork / SetUpOnRetryWork on the log's
// threads, off the notifying thread.
class JsonWorkLogManager : public WorkLogManager {
 public:
  JsonWorkLogManager(std::uint32_t mask, std::string logsFolder, SharedFileFactory* files,
                     unsigned threadCount = kThreadCount, Clock clock = Clock(),
                     std::string tempFolder = std::string());
  ~JsonWorkLogManager() override;

  // A JsonLogEventWork whose level is `level`.
  std::shared_ptr<TrackEventWork> CreateEvent(std::int32_t level) override;

  void OnWorkComplete(std::shared_ptr<const Work> work, const WorkStatus& status) override;
  void OnSimpleWorkRetry(std::shared_ptr<const SimpleWork> work, const WorkStatus& status) override;
};

}  // namespace velmo
