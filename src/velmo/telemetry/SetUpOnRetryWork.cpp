#include "velmo/telemetry/SetUpOnRetryWork.h"

#include "velmo/telemetry/LogLevel.h"
#include "velmo/telemetry/SetUpOnCompleteWork.h"

namespace velmo {

SetUpOnRetryWork::SetUpOnRetryWork(LogManager* logManager, std::shared_ptr<const Work> work,
                                   WorkStatus status)
    : logManager_(logManager), work_(std::move(work)), status_(std::move(status)) {}

void SetUpOnRetryWork::Describe(boost::property_tree::ptree& out) const {
  out.put("name", "SetUpOnRetryWork");
}

WorkStatus SetUpOnRetryWork::ExecuteTask() {
  if (logManager_ != nullptr && work_) {
    detail::SubmitWorkLogRecord(logManager_, *work_, status_, kLogWorkRetry, "OnSimpleWorkRetry");
  }
  return WorkStatus(WorkResult::Success, nullptr);
}

}  // namespace velmo
