#include "velmo/work/ConditionalWork.h"

#include <stdexcept>

namespace velmo {

void ConditionalWork::SetCondition(const std::shared_ptr<Work>& work) {
  {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (condition_ || !work) return;
    condition_ = work;
    currentChild_ = work;
  }
  AttachChild(work);
}

void ConditionalWork::SetOnSuccess(const std::shared_ptr<Work>& work) {
  {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (onSuccess_ || !work) return;
    onSuccess_ = work;
  }
  AttachChild(work);
}

void ConditionalWork::SetOnFailure(const std::shared_ptr<Work>& work) {
  {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (onFailure_ || !work) return;
    onFailure_ = work;
  }
  AttachChild(work);
}

void ConditionalWork::Reset() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  CompositeWork::Reset();
  currentChild_ = condition_;
  for (auto* child : {&condition_, &onSuccess_, &onFailure_}) {
    if (*child) (*child)->Reset();
  }
}

void ConditionalWork::Execute(std::shared_ptr<Workflow> workflow) {
  std::shared_ptr<Work> condition;
  {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (!condition_ || !onSuccess_ || !onFailure_) {
      throw std::logic_error("ConditionalWork::QueueAvailableWork called with incomplete children");
    }
    condition = condition_;
  }
  StartChild(condition, 0, workflow);
}

void ConditionalWork::OnSetWorkflow(std::shared_ptr<Workflow> workflow) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  for (auto* child : {&condition_, &onFailure_, &onSuccess_}) {
    if (*child) (*child)->SetWorkflow(workflow);
  }
}

bool ConditionalWork::IsExpectedChild(const std::shared_ptr<const Work>& child) {
  return !IsComplete() && currentChild_ == child;
}

ChildOutcome ConditionalWork::OnChildComplete(const std::shared_ptr<const Work>& child,
                                              const WorkStatus& status) {
  if (child == condition_) {
    currentChild_ = status.result == WorkResult::Success ? onSuccess_ : onFailure_;
    StartChild(currentChild_, 0, LockWorkflow());
    return ChildOutcome::Pending();
  }
  return ChildOutcome::FromStatus(status);
}

}  // namespace velmo
