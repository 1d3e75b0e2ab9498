#include "velmo/telemetry/JsonWorkLogManager.h"

#include "velmo/telemetry/JsonLogEventWork.h"
#include "velmo/telemetry/SetUpOnCompleteWork.h"
#include "velmo/telemetry/SetUpOnRetryWork.h"

namespace velmo {

JsonWorkLogManager::JsonWorkLogManager(std::uint32_t mask, std::string logsFolder,
                                       SharedFileFactory* files, unsigned threadCount, Clock clock,
                                       std::string tempFolder)
    : WorkLogManager(mask, std::move(logsFolder), files, threadCount, std::move(clock),
                     std::move(tempFolder)) {}

JsonWorkLogManager::~JsonWorkLogManager() {
  // Formatting works queued by the join submit their records while the threads
  // still run, so those are written too.
  JoinWorkManager();
  CloseFile();
}

std::shared_ptr<TrackEventWork> JsonWorkLogManager::CreateEvent(std::int32_t level) {
  return std::make_shared<JsonLogEventWork>(static_cast<std::uint32_t>(level), this);
}

void JsonWorkLogManager::OnWorkComplete(std::shared_ptr<const Work> work,
                                        const WorkStatus& status) {
  Submit(std::make_shared<SetUpOnCompleteWork>(this, std::move(work), status));
}

void JsonWorkLogManager::OnSimpleWorkRetry(std::shared_ptr<const SimpleWork> work,
                                           const WorkStatus& status) {
  Submit(std::make_shared<SetUpOnRetryWork>(this, std::move(work), status));
}

}  // namespace velmo
