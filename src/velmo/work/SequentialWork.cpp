#include "velmo/work/SequentialWork.h"

namespace velmo {

SequentialWork::SequentialWork(WorkCompleteCallback* observer, unsigned reserve)
    : CompositeWork(observer) {
  children_.reserve(reserve);
}

void SequentialWork::AddChild(const std::shared_ptr<Work>& child) {
  {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    children_.push_back(child);
  }
  AttachChild(child);
}

void SequentialWork::Reset() { ResetSequence(); }

void SequentialWork::ResetSequence() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  CompositeWork::Reset();
  current_ = 0;
  for (auto& child : children_) child->Reset();
}

void SequentialWork::Execute(std::shared_ptr<Workflow> workflow) {
  std::shared_ptr<Work> first;
  {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (children_.empty()) return;
    first = children_[current_];
  }
  StartChild(first, 0, workflow);
}

void SequentialWork::OnSetWorkflow(std::shared_ptr<Workflow> workflow) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  for (auto& child : children_) child->SetWorkflow(workflow);
}

bool SequentialWork::IsExpectedChild(const std::shared_ptr<const Work>& child) {
  return !IsComplete() && !children_.empty() && current_ < children_.size() &&
         children_[current_] == child;
}

ChildOutcome SequentialWork::OnChildComplete(const std::shared_ptr<const Work>& /*child*/,
                                             const WorkStatus& status) {
  if (status.result == WorkResult::Error || current_ + 1 == children_.size()) {
    return ChildOutcome::FromStatus(status);
  }
  ++current_;
  StartChild(children_[current_], 0, LockWorkflow());
  return ChildOutcome::Pending();
}

}  // namespace velmo
