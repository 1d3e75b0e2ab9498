#pragma once

#include <cstdint>

#include "velmo/telemetry/TrackEventWork.h"

namespace velmo {

class LogManager;

// One work-log record: its category is the record's level bits. Runs on the
// log's threads and writes the tree as one line.
class JsonLogEventWork : public TrackEventWork {
 public:
  JsonLogEventWork(std::uint32_t level, LogManager* logManager);

  void Describe(boost::property_tree::ptree& out) const override;
  void Reset() override { TrackEventWork::Reset(); }
  WorkStatus ExecuteTask() override;

  std::uint32_t GetLevel() const { return static_cast<std::uint32_t>(GetCategory()); }

 private:
  LogManager* const logManager_;
};

}  // namespace velmo
