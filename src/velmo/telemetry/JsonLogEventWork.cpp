#include "velmo/telemetry/JsonLogEventWork.h"

#include "velmo/telemetry/JsonWriter.h"
#include "velmo/telemetry/LogLevel.h"
#include "velmo/telemetry/LogManager.h"

namespace velmo {

JsonLogEventWork::JsonLogEventWork(std::uint32_t level, LogManager* logManager)
    : TrackEventWork(static_cast<std::int32_t>(level)), logManager_(logManager) {}

void JsonLogEventWork::Describe(boost::property_tree::ptree& out) const {
  out.put("name", "JsonLogEventWork");
}

WorkStatus JsonLogEventWork::ExecuteTask() {
  if (logManager_ == nullptr || !LogLevelPasses(GetLevel(), logManager_->GetMask())) {
    return WorkStatus(WorkResult::Success, nullptr);
  }
  // A writing failure escapes to Run and only loses this record.
  logManager_->Write(GetLevel(), ToJson(GetTree()));
  return WorkStatus(WorkResult::Success, nullptr);
}

}  // namespace velmo
