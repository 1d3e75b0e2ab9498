#include "velmo/work/DeferredWork.h"

#include "velmo/work/NoOpWork.h"

namespace velmo {

bool DeferredWork::Assign(const std::shared_ptr<Work>& work) {
  std::shared_ptr<Work> child;
  {
    std::lock_guard<std::mutex> lock(childMutex_);
    if (child_) return false;
    child_ = work ? work : std::make_shared<NoOpWork>();
    child = child_;
  }
  AttachChild(child);
  return true;
}

std::shared_ptr<Work> DeferredWork::GetChild() const {
  std::lock_guard<std::mutex> lock(childMutex_);
  return child_;
}

void DeferredWork::Describe(boost::property_tree::ptree& out) const {
  out.put("name", "DeferredWork");
}

void DeferredWork::Reset() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  CompositeWork::Reset();
  if (auto child = GetChild()) child->Reset();
}

void DeferredWork::Execute(std::shared_ptr<Workflow> workflow) {
  Assign(nullptr);
  StartChild(GetChild(), 0, workflow);
}

void DeferredWork::OnSetWorkflow(std::shared_ptr<Workflow> workflow) {
  if (auto child = GetChild()) child->SetWorkflow(workflow);
}

bool DeferredWork::IsExpectedChild(const std::shared_ptr<const Work>& child) {
  return GetChild() == child;
}

ChildOutcome DeferredWork::OnChildComplete(const std::shared_ptr<const Work>& /*child*/,
                                           const WorkStatus& status) {
  return ChildOutcome::FromStatus(status);
}

}  // namespace velmo
