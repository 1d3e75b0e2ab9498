#pragma once

#include <memory>

namespace velmo {

class SimpleWork;
class Workflow;

// A pool of threads that runs simple works. It knows nothing of trees or
// priorities; the workflow decides what runs when.
class WorkManager {
 public:
  WorkManager() = default;
  WorkManager(const WorkManager&) = delete;
  WorkManager& operator=(const WorkManager&) = delete;
  virtual ~WorkManager() = default;

  // Runs `work` stand-alone: Run, then NotifyComplete, on a pool thread.
  virtual void Execute(std::shared_ptr<SimpleWork> work) = 0;
  // Runs `work` for `workflow`: Run, NotifyComplete, then the workflow's
  // OnSimpleWorkExecuted, whatever the result. An exception that escapes the
  // completion chain or the workflow cancels the workflow with a Fatal status
  // carrying it (WorkExceptionData); nothing escapes a pool thread.
  virtual void Execute(std::shared_ptr<Workflow> workflow, std::shared_ptr<SimpleWork> work) = 0;
};

}  // namespace velmo
