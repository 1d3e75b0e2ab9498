#include "velmo/work/ParallelWork.h"

namespace velmo {

ParallelWork::ParallelWork(WorkCompleteCallback* observer) : CompositeWork(observer) { Reserve(2); }

void ParallelWork::Reserve(unsigned n) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  children_.reserve(n);
  pending_.reserve(n);
}

bool ParallelWork::AddChild(const std::shared_ptr<Work>& child) {
  {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (!pending_.insert(child.get()).second) return false;
    children_.push_back(child);
  }
  AttachChild(child);
  return true;
}

void ParallelWork::Reset() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  CompositeWork::Reset();
  pending_.clear();
  for (auto& child : children_) {
    pending_.insert(child.get());
    child->Reset();
  }
}

void ParallelWork::Execute(std::shared_ptr<Workflow> workflow) {
  std::vector<std::shared_ptr<Work>> children;
  {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    children = children_;
  }
  for (std::uint32_t i = 0; i < children.size(); ++i) StartChild(children[i], i, workflow);
}

void ParallelWork::OnSetWorkflow(std::shared_ptr<Workflow> workflow) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  for (auto& child : children_) child->SetWorkflow(workflow);
}

bool ParallelWork::IsExpectedChild(const std::shared_ptr<const Work>& child) {
  return pending_.count(child.get()) != 0;
}

ChildOutcome ParallelWork::OnChildComplete(const std::shared_ptr<const Work>& child,
                                           const WorkStatus& status) {
  if (status.result == WorkResult::Error) {
    return ChildOutcome::FromStatus(WorkStatus(WorkResult::Fatal, status.data));
  }
  pending_.erase(child.get());
  if (pending_.empty()) return ChildOutcome::FromStatus(WorkStatus(WorkResult::Success, nullptr));
  return ChildOutcome::Pending();
}

}  // namespace velmo
