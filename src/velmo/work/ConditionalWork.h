#pragma once

#include "velmo/work/CompositeWork.h"

namespace velmo {

// Runs a condition child, then exactly one branch: `onSuccess` when the
// condition succeeded, `onFailure` on any other completion. The branch takes
// the condition's place (path index 0). Subclasses fill the three slots once,
// right after construction, then call Reset before the first Execute.
class ConditionalWork : public CompositeWork {
 public:
  explicit ConditionalWork(WorkCompleteCallback* observer = nullptr) : CompositeWork(observer) {}

  void Reset() override;
  // Throws std::logic_error when a child slot is empty.
  void Execute(std::shared_ptr<Workflow> workflow) override;

 protected:
  // Each fills its slot once (a filled slot is left unchanged) and attaches
  // the child.
  void SetCondition(const std::shared_ptr<Work>& work);
  void SetOnSuccess(const std::shared_ptr<Work>& work);
  void SetOnFailure(const std::shared_ptr<Work>& work);

  void OnSetWorkflow(std::shared_ptr<Workflow> workflow) override;
  bool IsExpectedChild(const std::shared_ptr<const Work>& child) override;
  ChildOutcome OnChildComplete(const std::shared_ptr<const Work>& child,
                               const WorkStatus& status) override;

 private:
  std::shared_ptr<Work> condition_;
  std::shared_ptr<Work> onSuccess_;
  std::shared_ptr<Work> onFailure_;
  std::shared_ptr<Work> currentChild_;
};

}  // namespace velmo
