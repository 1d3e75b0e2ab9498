#include "velmo/work/LazyParallelWork.h"

#include <stdexcept>
#include <vector>

#include "velmo/work/Workflow.h"

namespace velmo {

LazyParallelWork::LazyParallelWork(WorkCompleteCallback* observer, unsigned capacity)
    : CompositeWork(observer), capacity_(capacity) {
  Reserve(capacity);
}

void LazyParallelWork::Reserve(unsigned n) {
  if (n == 0) throw std::invalid_argument("LazyParallelWork::Reserve called with zero capacity");
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  active_.reserve(n);
}

void LazyParallelWork::Reset() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  CompositeWork::Reset();
  produced_ = 0;
  extra_ = 0;
}

bool LazyParallelWork::StartExtraChild(const std::shared_ptr<Work>& child) {
  // Started under the lock, like the children OnChildComplete starts
  // (composite lock, then the workflow's).
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (IsComplete() || active_.empty()) return false;
  const std::shared_ptr<Workflow> workflow = GetWorkflowRef().lock();
  if (!workflow || !AddActive(child)) return false;
  ++extra_;
  StartChild(child, produced_++, workflow);
  // Called from a running task, not from a completion: nothing else would
  // hand the new child's works out before the next one completes.
  workflow->DispatchQueued();
  return true;
}

bool LazyParallelWork::AddActive(const std::shared_ptr<Work>& child) {
  if (!active_.insert(child).second) return false;
  AttachChild(child);
  return true;
}

void LazyParallelWork::Execute(std::shared_ptr<Workflow> workflow) {
  std::vector<std::shared_ptr<Work>> batch;
  std::uint32_t first;
  {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    first = produced_;
    while (produced_ < capacity_) {
      std::shared_ptr<Work> next = GetNextWork();
      if (!next) break;
      if (AddActive(next)) batch.push_back(next);
      ++produced_;
    }
  }
  for (std::uint32_t k = 0; k < batch.size(); ++k) StartChild(batch[k], first + k, workflow);
}

void LazyParallelWork::OnSetWorkflow(std::shared_ptr<Workflow> workflow) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  for (auto& child : active_) child->SetWorkflow(workflow);
}

bool LazyParallelWork::IsExpectedChild(const std::shared_ptr<const Work>& child) {
  return active_.count(std::const_pointer_cast<Work>(child)) != 0;
}

ChildOutcome LazyParallelWork::OnChildComplete(const std::shared_ptr<const Work>& child,
                                               const WorkStatus& status) {
  if (status.result == WorkResult::Error) {
    return ChildOutcome::FromStatus(WorkStatus(WorkResult::Fatal, status.data));
  }
  active_.erase(std::const_pointer_cast<Work>(child));
  if (std::shared_ptr<Work> next = GetNextWork()) {
    std::uint32_t index = produced_++;
    if (AddActive(next)) StartChild(next, index, LockWorkflow());
  }
  if (!active_.empty()) return ChildOutcome::Pending();
  return ChildOutcome::FromStatus(WorkStatus(WorkResult::Success, nullptr));
}

}  // namespace velmo
