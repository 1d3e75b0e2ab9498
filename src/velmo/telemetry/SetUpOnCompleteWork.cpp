#include "velmo/telemetry/SetUpOnCompleteWork.h"

#include "velmo/telemetry/LogLevel.h"
#include "velmo/telemetry/LogManager.h"

namespace velmo {

namespace detail {

void SubmitWorkLogRecord(LogManager* logManager, const Work& work, const WorkStatus& status,
                         std::uint32_t baseLevel, const char* event) {
  boost::property_tree::ptree params;
  work.DescribeCompletion(status, params);
  // A missing or unreadable "important" counts as false.
  const bool important = params.get<bool>("important", false);
  const std::uint32_t level = (important ? kLogImportant : 0u) | baseLevel;
  // Records the mask rejects are dropped here, before a record work is made.
  if (!LogLevelPasses(level, logManager->GetMask())) return;
  auto record = logManager->CreateEvent(static_cast<std::int32_t>(level));
  auto& tree = record->GetTree();
  tree.put("event", event);
  tree.add_child("params", params);
  logManager->Submit(record);
}

}  // namespace detail

SetUpOnCompleteWork::SetUpOnCompleteWork(LogManager* logManager, std::shared_ptr<const Work> work,
                                         WorkStatus status)
    : logManager_(logManager), work_(std::move(work)), status_(std::move(status)) {}

void SetUpOnCompleteWork::Describe(boost::property_tree::ptree& out) const {
  out.put("name", "SetUpOnCompleteWork");
}

WorkStatus SetUpOnCompleteWork::ExecuteTask() {
  if (logManager_ != nullptr && work_) {
    const bool failed =
        status_.result == WorkResult::Fatal || status_.result == WorkResult::RetryableError;
    detail::SubmitWorkLogRecord(logManager_, *work_, status_,
                                failed ? kLogWorkFailure : kLogWorkComplete, "OnWorkComplete");
  }
  return WorkStatus(WorkResult::Success, nullptr);
}

}  // namespace velmo
