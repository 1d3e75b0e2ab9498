#pragma once

// Formats the work-log record of one in-place retry of a simple work (level 4,
// plus 16 for an important work). Created by the work log inside its retry
// handler and run on the log's own threads.

#include <memory>

#include "velmo/work/SimpleWork.h"
#include "velmo/work/WorkStatus.h"

namespace velmo {

class LogManager;

class SetUpOnRetryWork : public SimpleWork {
 public:
  SetUpOnRetryWork(LogManager* logManager, std::shared_ptr<const Work> work, WorkStatus status);

  void Describe(boost::property_tree::ptree& out) const override;
  void Reset() override { SimpleWork::Reset(); }
  void OnInterrupt() override {}
  WorkStatus ExecuteTask() override;

 private:
  LogManager* const logManager_;
  const std::shared_ptr<const Work> work_;
  const WorkStatus status_;
};

}  // namespace velmo
