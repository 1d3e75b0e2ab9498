#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "velmo/work/Work.h"

namespace velmo {

// A leaf that runs one task on a work-manager thread. Execute only queues it
// in the workflow; Run (called by the work manager's job) runs the task,
// repeating it in place while it fails retryably and CanRetry allows.
//
// Threads: Run and the task run on one pool thread; the interrupt flag is set
// by the workflow's thread and read at loop boundaries (atomic).
class SimpleWork : public Work, public std::enable_shared_from_this<SimpleWork> {
 public:
  SimpleWork() = default;
  explicit SimpleWork(WorkCompleteCallback* observer) : Work(observer) {}

  void Reset() override;
  std::shared_ptr<const Work> GetSharedConst() const override { return shared_from_this(); }
  std::shared_ptr<Work> GetShared() override { return shared_from_this(); }
  void Execute(std::shared_ptr<Workflow> workflow) override;

  // The task itself, synchronous.
  virtual WorkStatus ExecuteTask() = 0;
  // Called by the workflow right after it set the interrupt flag, so that a
  // blocked task can be aborted.
  virtual void OnInterrupt() = 0;

  // True for a work the workflow may run beyond its bound of running works,
  // one such work at a time: a short task that must not wait for a slot
  // when every slot may be held by a task that cannot end soon.
  virtual bool RunsAboveBound() const { return false; }

  void AddRetryCallback(SimpleWorkRetryCallback* callback);
  // One execution with in-place retries; never throws. The returned status
  // always has retry == false.
  WorkStatus Run();

  // Sets the interrupt flag and ends a WaitUnlessInterrupted at once.
  void SetInterrupted();
  bool IsInterrupted() const { return interrupted_.load(); }

 protected:
  void OnSetWorkflow(std::shared_ptr<Workflow> workflow) override;
  // How long to wait before the retry Run is about to make after `status`
  // (CanRetry has just allowed it); none by default.
  virtual std::chrono::milliseconds RetryDelay(const WorkStatus& /*status*/) {
    return std::chrono::milliseconds(0);
  }
  // Sleeps for `duration` on the task's thread, or until the work is
  // interrupted (pause, suspension, cancel); false when it was interrupted.
  // A wait of the task's own, so that a backing-off retry holds its thread
  // but never a busy loop, and never delays a pause.
  bool WaitUnlessInterrupted(std::chrono::milliseconds duration);

 private:
  std::atomic<bool> interrupted_{false};
  std::mutex waitMutex_;  // leaf: pairs interrupted_ with wake_
  std::condition_variable wake_;
  std::vector<SimpleWorkRetryCallback*> retryCallbacks_;
};

}  // namespace velmo
