#pragma once

#include <unordered_set>
#include <vector>

#include "velmo/work/CompositeWork.h"

namespace velmo {

// Queues all its children at once (the workflow decides how many run); one
// Error child fails it as Fatal, keeping that child's payload.
class ParallelWork : public CompositeWork {
 public:
  explicit ParallelWork(WorkCompleteCallback* observer = nullptr);

  // False, changing nothing, when `child` is already a child.
  bool AddChild(const std::shared_ptr<Work>& child);
  virtual void Reserve(unsigned n);
  void Reset() override;
  void Execute(std::shared_ptr<Workflow> workflow) override;

 protected:
  void OnSetWorkflow(std::shared_ptr<Workflow> workflow) override;
  bool IsExpectedChild(const std::shared_ptr<const Work>& child) override;
  ChildOutcome OnChildComplete(const std::shared_ptr<const Work>& child,
                               const WorkStatus& status) override;

 private:
  std::vector<std::shared_ptr<Work>> children_;
  std::unordered_set<const Work*> pending_;
};

}  // namespace velmo
