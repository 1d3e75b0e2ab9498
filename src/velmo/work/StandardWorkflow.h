#pragma once

#include <memory>
#include <mutex>
#include <queue>
#include <unordered_set>
#include <vector>

#include "velmo/work/SimpleWork.h"
#include "velmo/work/Workflow.h"

namespace velmo {

class WorkManager;

// The workflow of one tree. Queued simple works wait in a heap ordered by
// tree path (earliest in a depth-first walk first); at most `maxRunning` are
// handed to the work manager at once, plus one work that RunsAboveBound,
// which waits in a queue of its own and runs whatever holds the slots (the
// work manager has a thread beyond the bound for it).
//
// Threads: the owner calls Start/Pause/Resume/ResumeSuspended/Cancel (with
// its own lock held: owner lock, then `mutex_`; composite locks are always
// taken before `mutex_`, never inside it); pool threads call Execute,
// OnWorkComplete and OnSimpleWorkExecuted. `mutex_` (recursive) guards
// everything; it is released before the retryable-error callbacks and before
// Cancel's root notification, so owners may take their own lock there.
class StandardWorkflow : public Workflow, public std::enable_shared_from_this<StandardWorkflow> {
 public:
  StandardWorkflow(std::shared_ptr<Work> root, WorkManager* workManager, unsigned maxRunning);
  StandardWorkflow(const StandardWorkflow&) = delete;
  StandardWorkflow& operator=(const StandardWorkflow&) = delete;

  void OnWorkComplete(std::shared_ptr<const Work> work, const WorkStatus& status) override;
  bool Start() override;
  bool Pause() override;
  bool Resume() override;
  bool ResumeSuspended() override;
  WorkflowState GetState() override;
  bool IsStarted() override;
  bool IsPaused() override;
  bool IsSuspended() override;
  bool IsFinished() override;
  bool Cancel(const WorkStatus& status) override;
  void AddRetryableErrorCallback(WorkflowRetryableErrorCallback* callback) override;
  void Execute(std::shared_ptr<SimpleWork> work) override;
  void DispatchQueued() override;
  void OnSimpleWorkExecuted(std::shared_ptr<SimpleWork> work, const WorkStatus& status) override;

  const std::shared_ptr<Work>& GetRoot() const { return root_; }
  std::size_t QueuedCount();
  std::size_t RunningCount();

 private:
  struct LaterPath {
    bool operator()(const std::shared_ptr<SimpleWork>& a,
                    const std::shared_ptr<SimpleWork>& b) const {
      return b->GetPath() < a->GetPath();
    }
  };

  void Dispatch();
  void InterruptRunning();

  std::recursive_mutex mutex_;
  std::shared_ptr<Work> root_;
  WorkManager* workManager_;
  std::priority_queue<std::shared_ptr<SimpleWork>, std::vector<std::shared_ptr<SimpleWork>>,
                      LaterPath>
      queue_;
  std::unordered_set<std::shared_ptr<SimpleWork>> running_;
  std::queue<std::shared_ptr<SimpleWork>> aboveBound_;  // queued, RunsAboveBound
  std::shared_ptr<SimpleWork> runningAboveBound_;
  unsigned maxRunning_;
  WorkflowState state_ = WorkflowState::NotStarted;
  bool starting_ = false;  // Start is executing the root
  std::vector<WorkflowRetryableErrorCallback*> retryableErrorCallbacks_;
};

}  // namespace velmo
