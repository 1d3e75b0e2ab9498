#include "velmo/work/Work.h"

#include "velmo/work/CompositeWork.h"
#include "velmo/work/Workflow.h"

namespace velmo {

Work::Work(WorkCompleteCallback* observer) { AddCompleteCallback(observer); }

void Work::Describe(boost::property_tree::ptree& /*out*/) const {}

bool Work::CanRetry() { return false; }

void Work::DescribeCompletion(const WorkStatus& status, boost::property_tree::ptree& out) const {
  Describe(out);
  boost::property_tree::ptree statusTree;
  status.Describe(statusTree);
  out.put_child("workStatus", statusTree);
}

void Work::SetParent(const std::shared_ptr<CompositeWork>& parent) { parent_ = parent; }

void Work::SetWorkflow(const std::shared_ptr<Workflow>& workflow) {
  workflow_ = workflow;
  OnSetWorkflow(workflow);
}

void Work::AddCompleteCallback(WorkCompleteCallback* observer) {
  if (observer) completeCallbacks_.push_back(observer);
}

void Work::SetPath(const Path& parentPath, std::uint32_t index) {
  path_ = parentPath;
  path_.push_back(index);
}

void Work::NotifyComplete(const WorkStatus& status) {
  std::shared_ptr<const Work> self = GetSharedConst();
  if (auto workflow = workflow_.lock()) workflow->OnWorkComplete(self, status);
  for (WorkCompleteCallback* callback : completeCallbacks_) callback->OnWorkComplete(self, status);
  if (auto parent = parent_.lock()) parent->OnWorkComplete(self, status);
}

}  // namespace velmo
