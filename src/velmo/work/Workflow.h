#pragma once

#include <cstdint>
#include <memory>

#include "velmo/work/WorkCallbacks.h"

namespace velmo {

class Workflow;

enum class WorkflowState : std::uint8_t {
  NotStarted = 0,
  Running = 1,
  Paused = 2,
  Suspended = 3,
  PausedSuspended = 4,
  Finished = 5,
  Canceled = 6,
};

// Told when a retryable failure with its retries used up suspends a workflow.
class WorkflowRetryableErrorCallback {
 public:
  virtual ~WorkflowRetryableErrorCallback() = default;
  virtual void OnWorkflowRetryableError(std::shared_ptr<Workflow> workflow,
                                        std::shared_ptr<const Work> work,
                                        const WorkStatus& status) = 0;
};

// Drives one work tree: queues its simple works, runs a bounded number at a
// time on a work manager, and can be paused, resumed, suspended and canceled.
class Workflow : public WorkCompleteCallback {
 public:
  virtual bool Start() = 0;
  virtual bool Pause() = 0;
  virtual bool Resume() = 0;
  virtual bool ResumeSuspended() = 0;
  virtual WorkflowState GetState() = 0;
  virtual bool IsStarted() = 0;
  virtual bool IsPaused() = 0;
  virtual bool IsSuspended() = 0;
  virtual bool IsFinished() = 0;
  // Stops the tree and reports `status` as the root's completion.
  virtual bool Cancel(const WorkStatus& status) = 0;
  // Called once, before Start.
  virtual void AddRetryableErrorCallback(WorkflowRetryableErrorCallback* callback) = 0;
  // Queues a simple work (what SimpleWork::Execute calls).
  virtual void Execute(std::shared_ptr<SimpleWork> work) = 0;
  // Hands queued works to the work manager now, as far as the bound allows.
  // Queued works are otherwise handed out only when a simple work has
  // completed (and at Start and Resume); a running task that starts another
  // work beside itself calls this, or its work waits for the next completion.
  virtual void DispatchQueued() = 0;
  // Called by the work manager's job after `work` ran and reported.
  virtual void OnSimpleWorkExecuted(std::shared_ptr<SimpleWork> work, const WorkStatus& status) = 0;
};

}  // namespace velmo
