#pragma once

#include <mutex>

#include "velmo/work/CompositeWork.h"

namespace velmo {

// A placeholder for a subtree that can only be built once earlier works have
// produced their data. Assign grafts it once; executed empty, it runs a
// NoOpWork. `childMutex_` guards the child: Assign runs on another work's
// pool thread, concurrently with this work's handler.
class DeferredWork : public CompositeWork {
 public:
  explicit DeferredWork(WorkCompleteCallback* observer = nullptr) : CompositeWork(observer) {}

  // Stores `work` (a NoOpWork when empty) unless a child is already there.
  bool Assign(const std::shared_ptr<Work>& work);
  std::shared_ptr<Work> GetChild() const;

  void Describe(boost::property_tree::ptree& out) const override;
  void Reset() override;
  void Execute(std::shared_ptr<Workflow> workflow) override;

 protected:
  void OnSetWorkflow(std::shared_ptr<Workflow> workflow) override;
  bool IsExpectedChild(const std::shared_ptr<const Work>& child) override;
  ChildOutcome OnChildComplete(const std::shared_ptr<const Work>& child,
                               const WorkStatus& status) override;

 private:
  mutable std::mutex childMutex_;
  std::shared_ptr<Work> child_;
};

}  // namespace velmo
