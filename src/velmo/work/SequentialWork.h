#pragma once

#include <vector>

#include "velmo/work/CompositeWork.h"

namespace velmo {

// Runs its children one after the other; ends with the first Error or the
// last child's status. Every child runs with path index 0, since only one is
// ever queued or running.
class SequentialWork : public CompositeWork {
 public:
  SequentialWork() : SequentialWork(nullptr, 2) {}
  SequentialWork(WorkCompleteCallback* observer, unsigned reserve);

  void AddChild(const std::shared_ptr<Work>& child);
  void Reset() override;
  void Execute(std::shared_ptr<Workflow> workflow) override;

 protected:
  void OnSetWorkflow(std::shared_ptr<Workflow> workflow) override;
  bool IsExpectedChild(const std::shared_ptr<const Work>& child) override;
  ChildOutcome OnChildComplete(const std::shared_ptr<const Work>& child,
                               const WorkStatus& status) override;
  // The sequential reset (children and cursor) without what subclasses add.
  void ResetSequence();

  std::vector<std::shared_ptr<Work>> children_;
  std::uint32_t current_ = 0;
};

}  // namespace velmo
