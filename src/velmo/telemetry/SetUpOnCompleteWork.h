#pragma once

// Formats the work-log record of one work completion. Created by the work log
// inside its completion handler and run on the log's own threads, so describing
// the work and formatting the record happen off the notifying thread.
//
// Level: 2 for Fatal or RetryableError, else 8; plus 16 when the work describes
// itself with "important" = true.

#include <memory>

#include "velmo/work/SimpleWork.h"
#include "velmo/work/WorkStatus.h"

namespace velmo {

class LogManager;

class SetUpOnCompleteWork : public SimpleWork {
 public:
  SetUpOnCompleteWork(LogManager* logManager, std::shared_ptr<const Work> work, WorkStatus status);

  void Describe(boost::property_tree::ptree& out) const override;
  void Reset() override { SimpleWork::Reset(); }
  void OnInterrupt() override {}
  WorkStatus ExecuteTask() override;

 private:
  LogManager* const logManager_;
  const std::shared_ptr<const Work> work_;
  const WorkStatus status_;
};

namespace detail {

// Describes `work` with `status`, picks the level from "important" and
// `baseLevel`, and hands the record {"event", "params"} to the log.
void SubmitWorkLogRecord(LogManager* logManager, const Work& work, const WorkStatus& status,
                         std::uint32_t baseLevel, const char* event);

}  // namespace detail

}  // namespace velmo
