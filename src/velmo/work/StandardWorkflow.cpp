#include "velmo/work/StandardWorkflow.h"

#include "velmo/work/WorkManager.h"

namespace velmo {

using Lock = std::unique_lock<std::recursive_mutex>;

StandardWorkflow::StandardWorkflow(std::shared_ptr<Work> root, WorkManager* workManager,
                                   unsigned maxRunning)
    : root_(std::move(root)), workManager_(workManager), maxRunning_(maxRunning) {}

bool StandardWorkflow::Start() {
  {
    Lock lock(mutex_);
    if (state_ != WorkflowState::NotStarted || starting_) return false;
    starting_ = true;
  }
  // The root is executed without `mutex_`: composites take their own lock in
  // Execute and, on pool threads, call into the workflow while holding it, so
  // the workflow's lock is never held around a composite's (lock order:
  // composite, then workflow). Nothing runs yet: dispatching waits for Running.
  try {
    root_->Execute(shared_from_this());
  } catch (...) {
    Lock lock(mutex_);
    starting_ = false;
    throw;
  }
  Lock lock(mutex_);
  starting_ = false;
  if (state_ != WorkflowState::NotStarted) return true;  // canceled meanwhile
  state_ = WorkflowState::Running;
  Dispatch();
  return true;
}

bool StandardWorkflow::Pause() {
  Lock lock(mutex_);
  if (state_ == WorkflowState::Running) {
    state_ = WorkflowState::Paused;
  } else if (state_ == WorkflowState::Suspended) {
    state_ = WorkflowState::PausedSuspended;
  } else {
    return false;
  }
  InterruptRunning();
  return true;
}

bool StandardWorkflow::Resume() {
  Lock lock(mutex_);
  if (state_ == WorkflowState::Paused) {
    state_ = WorkflowState::Running;
  } else if (state_ == WorkflowState::PausedSuspended) {
    state_ = WorkflowState::Suspended;
  } else {
    return false;
  }
  Dispatch();
  return true;
}

bool StandardWorkflow::ResumeSuspended() {
  Lock lock(mutex_);
  if (state_ == WorkflowState::Suspended) {
    state_ = WorkflowState::Running;
  } else if (state_ == WorkflowState::PausedSuspended) {
    state_ = WorkflowState::Paused;
  } else {
    return false;
  }
  Dispatch();
  return true;
}

WorkflowState StandardWorkflow::GetState() {
  Lock lock(mutex_);
  return state_;
}

bool StandardWorkflow::IsStarted() { return GetState() != WorkflowState::NotStarted; }

bool StandardWorkflow::IsPaused() {
  auto s = GetState();
  return s == WorkflowState::Paused || s == WorkflowState::PausedSuspended;
}

bool StandardWorkflow::IsSuspended() {
  auto s = GetState();
  return s == WorkflowState::Suspended || s == WorkflowState::PausedSuspended;
}

bool StandardWorkflow::IsFinished() {
  auto s = GetState();
  return s == WorkflowState::Finished || s == WorkflowState::Canceled;
}

bool StandardWorkflow::Cancel(const WorkStatus& status) {
  Lock lock(mutex_);
  if (state_ == WorkflowState::Canceled) return false;
  Pause();
  state_ = WorkflowState::Canceled;
  lock.unlock();
  root_->NotifyComplete(status);
  return true;
}

void StandardWorkflow::AddRetryableErrorCallback(WorkflowRetryableErrorCallback* callback) {
  if (callback) retryableErrorCallbacks_.push_back(callback);
}

void StandardWorkflow::Execute(std::shared_ptr<SimpleWork> work) {
  Lock lock(mutex_);
  if (IsFinished()) return;
  work->Reset();
  if (work->RunsAboveBound()) {
    aboveBound_.push(std::move(work));
  } else {
    queue_.push(std::move(work));
  }
}

void StandardWorkflow::DispatchQueued() {
  Lock lock(mutex_);
  Dispatch();
}

void StandardWorkflow::Dispatch() {
  if (state_ == WorkflowState::Running && !runningAboveBound_ && !aboveBound_.empty()) {
    runningAboveBound_ = std::move(aboveBound_.front());
    aboveBound_.pop();
    workManager_->Execute(shared_from_this(), runningAboveBound_);
  }
  while (state_ == WorkflowState::Running && running_.size() < maxRunning_ && !queue_.empty()) {
    std::shared_ptr<SimpleWork> work = queue_.top();
    queue_.pop();
    running_.insert(work);
    workManager_->Execute(shared_from_this(), work);
  }
}

void StandardWorkflow::InterruptRunning() {
  for (const auto& work : running_) {
    work->SetInterrupted();
    work->OnInterrupt();
  }
  if (runningAboveBound_) {
    runningAboveBound_->SetInterrupted();
    runningAboveBound_->OnInterrupt();
  }
}

void StandardWorkflow::OnSimpleWorkExecuted(std::shared_ptr<SimpleWork> work,
                                            const WorkStatus& status) {
  Lock lock(mutex_);
  if (work == runningAboveBound_) {
    runningAboveBound_.reset();
  } else {
    running_.erase(work);
  }
  if (!IsFinished() &&
      (status.result == WorkResult::Interrupted || status.result == WorkResult::RetryableError)) {
    Execute(work);
  }
  Dispatch();
}

void StandardWorkflow::OnWorkComplete(std::shared_ptr<const Work> work, const WorkStatus& status) {
  Lock lock(mutex_);
  if (!IsStarted() || IsFinished()) return;
  if (status.result == WorkResult::Fatal || (IsCompletion(status.result) && work == root_)) {
    InterruptRunning();
    state_ = WorkflowState::Finished;
  }
  if (status.result == WorkResult::RetryableError && !status.retry && !IsSuspended()) {
    InterruptRunning();
    state_ = state_ == WorkflowState::Running ? WorkflowState::Suspended
                                              : WorkflowState::PausedSuspended;
    auto callbacks = retryableErrorCallbacks_;
    lock.unlock();
    std::shared_ptr<Workflow> self = shared_from_this();
    for (auto* callback : callbacks) callback->OnWorkflowRetryableError(self, work, status);
  }
}

std::size_t StandardWorkflow::QueuedCount() {
  Lock lock(mutex_);
  return queue_.size() + aboveBound_.size();
}

std::size_t StandardWorkflow::RunningCount() {
  Lock lock(mutex_);
  return running_.size() + (runningAboveBound_ ? 1 : 0);
}

}  // namespace velmo
