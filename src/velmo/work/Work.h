#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "velmo/work/WorkCallbacks.h"
#include "velmo/work/WorkDescriptor.h"
#include "velmo/work/WorkStatus.h"

namespace velmo {

class CompositeWork;
class Workflow;

// A unit of work in a tree. Leaves are simple works that run a task on a
// pool thread; inner nodes are composites. Completions go, in this order, to
// the workflow, the observers and the parent.
//
// Observers, parent and workflow are set before the work first runs and not
// changed afterwards; the path is set by the parent before each start.
class Work : public WorkDescriptor {
 public:
  using Path = std::vector<std::uint32_t>;

  Work() = default;
  explicit Work(WorkCompleteCallback* observer);
  Work(const Work&) = delete;
  Work& operator=(const Work&) = delete;

  // Writes "name" (and for some works "important"); nothing by default.
  void Describe(boost::property_tree::ptree& out) const override;
  // Asked after a RetryableError; true consumes one retry.
  virtual bool CanRetry();
  // Prepares the work to run again from the start.
  virtual void Reset() = 0;
  // Describe, plus the status under "workStatus".
  virtual void DescribeCompletion(const WorkStatus& status, boost::property_tree::ptree& out) const;
  virtual std::shared_ptr<const Work> GetSharedConst() const = 0;
  virtual std::shared_ptr<Work> GetShared() = 0;
  virtual void SetParent(const std::shared_ptr<CompositeWork>& parent);
  virtual void SetWorkflow(const std::shared_ptr<Workflow>& workflow);
  virtual void Execute(std::shared_ptr<Workflow> workflow) = 0;

  void AddCompleteCallback(WorkCompleteCallback* observer);
  void SetPath(const Path& parentPath, std::uint32_t index);
  const Path& GetPath() const { return path_; }
  // Delivers one outcome to the workflow, the observers and the parent.
  void NotifyComplete(const WorkStatus& status);

 protected:
  virtual void OnSetWorkflow(std::shared_ptr<Workflow> workflow) = 0;
  std::weak_ptr<Workflow> GetWorkflowRef() const { return workflow_; }
  // The workflow for starting further work; throws std::bad_weak_ptr when it
  // is gone (the owner holds it whenever the tree runs).
  std::shared_ptr<Workflow> LockWorkflow() const { return std::shared_ptr<Workflow>(workflow_); }

 private:
  std::weak_ptr<Workflow> workflow_;
  std::vector<WorkCompleteCallback*> completeCallbacks_;
  std::weak_ptr<CompositeWork> parent_;
  Path path_;
};

}  // namespace velmo
