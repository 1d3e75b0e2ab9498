#pragma once

#include <memory>
#include <mutex>

#include "velmo/work/Work.h"

namespace velmo {

// What a composite makes of one child's completion.
struct ChildOutcome {
  bool complete = false;
  WorkStatus status{WorkResult::Fatal};

  static ChildOutcome Pending() { return ChildOutcome(); }
  static ChildOutcome FromStatus(const WorkStatus& s) {
    ChildOutcome o;
    o.status = s;
    o.complete = IsCompletion(s.result);
    return o;
  }
};

// An inner node of a work tree: starts its children within the workflow and
// turns their completions into one outcome of its own.
//
// Threads: OnWorkComplete runs on the pool thread that completed a child;
// `mutex_` (recursive) guards `complete_`, `status_` and all subclass state,
// and is released before NotifyComplete so a parent never runs its handler
// while a child holds its lock (lock order: child, then never parent).
class CompositeWork : public Work,
                      public WorkCompleteCallback,
                      public std::enable_shared_from_this<CompositeWork> {
 public:
  CompositeWork() = default;
  explicit CompositeWork(WorkCompleteCallback* observer) : Work(observer) {}

  void Reset() override;
  std::shared_ptr<const Work> GetSharedConst() const override { return shared_from_this(); }
  std::shared_ptr<Work> GetShared() override { return shared_from_this(); }

  // The completion handler (the WorkCompleteCallback face).
  void OnWorkComplete(std::shared_ptr<const Work> child, const WorkStatus& status) override;

  // Runs the whole composite again within its workflow.
  virtual void Retry();

  bool IsComplete() const;

 protected:
  // Makes `child` a child of this composite; it joins the workflow at once
  // when this composite already has one.
  virtual void AttachChild(const std::shared_ptr<Work>& child);
  virtual bool IsExpectedChild(const std::shared_ptr<const Work>& child) = 0;
  // Subclass rule for a Success or Error child; called under `mutex_`.
  virtual ChildOutcome OnChildComplete(const std::shared_ptr<const Work>& child,
                                       const WorkStatus& status) = 0;

  void StartChild(const std::shared_ptr<Work>& child, std::uint32_t index,
                  const std::shared_ptr<Workflow>& workflow);

  mutable std::recursive_mutex mutex_;

 private:
  bool complete_ = false;
  WorkStatus status_{WorkResult::Fatal};
};

}  // namespace velmo
