#include "velmo/work/CompositeWork.h"

#include "velmo/work/Workflow.h"

namespace velmo {

void CompositeWork::Reset() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  complete_ = false;
  status_ = WorkStatus(WorkResult::Fatal);
}

bool CompositeWork::IsComplete() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return complete_;
}

void CompositeWork::AttachChild(const std::shared_ptr<Work>& child) {
  child->SetParent(shared_from_this());
  if (auto workflow = GetWorkflowRef().lock()) child->SetWorkflow(workflow);
}

void CompositeWork::StartChild(const std::shared_ptr<Work>& child, std::uint32_t index,
                               const std::shared_ptr<Workflow>& workflow) {
  child->SetPath(GetPath(), index);
  child->Execute(workflow);
}

void CompositeWork::Retry() {
  Reset();
  Execute(LockWorkflow());
}

void CompositeWork::OnWorkComplete(std::shared_ptr<const Work> child, const WorkStatus& status) {
  std::unique_lock<std::recursive_mutex> lock(mutex_);
  if (complete_) return;  // late completions are ignored

  if (!IsExpectedChild(child)) {
    auto outcome = ChildOutcome::FromStatus(WorkStatus(
        WorkResult::Fatal, std::make_shared<WorkErrorData>(
                               "Invalid child progress for CompositeWork::OnWorkComplete")));
    complete_ = outcome.complete;
    status_ = outcome.status;
  } else if (status.result == WorkResult::Fatal) {
    auto outcome = ChildOutcome::FromStatus(status);
    complete_ = outcome.complete;
    status_ = outcome.status;
  } else if (status.result == WorkResult::Interrupted ||
             status.result == WorkResult::RetryableError) {
    return;  // the child runs again later
  } else {
    auto outcome = OnChildComplete(child, status);
    complete_ = outcome.complete;
    status_ = outcome.status;
  }

  if (complete_) {
    if (status_.result != WorkResult::Fatal) status_.data.reset();
    WorkStatus report = status_;
    lock.unlock();
    NotifyComplete(report);
    return;
  }
  if (status_.result == WorkResult::RetryableError) {
    status_.retry = CanRetry();
    if (!status_.retry) {
      WorkStatus report = status_;
      lock.unlock();
      NotifyComplete(report);
      lock.lock();
    }
    Retry();
  }
}

}  // namespace velmo
