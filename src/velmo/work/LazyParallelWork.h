#pragma once

#include <unordered_set>

#include "velmo/work/CompositeWork.h"

namespace velmo {

// A parallel composite whose children come from a producer, at most
// `capacity` in flight: each completion starts at most one new child, so a
// large fan-out never has all its works built at once. Children get path
// indexes 0, 1, 2... in production order.
//
// GetNextWork is called under `mutex_` when a child completes, and without it
// in Execute (before any child of that execution has started).
class LazyParallelWork : public CompositeWork {
 public:
  // Throws std::invalid_argument for a capacity of 0.
  LazyParallelWork(WorkCompleteCallback* observer, unsigned capacity);

  virtual void Reserve(unsigned n);
  void Reset() override;
  void Execute(std::shared_ptr<Workflow> workflow) override;

  unsigned Capacity() const { return capacity_; }

  // Starts `child` beside the produced children while this work is running
  // (started, not complete, some child still active): the work completes only
  // after it, but it is no produced item and takes no capacity. False, and
  // nothing started, otherwise.
  bool StartExtraChild(const std::shared_ptr<Work>& child);

 protected:
  // The next child, or empty when there is none left.
  virtual std::shared_ptr<Work> GetNextWork() = 0;
  // How many children GetNextWork handed out since the last Reset; producers
  // use it as the index of the next item.
  std::uint32_t Produced() const { return produced_ - extra_; }

  void OnSetWorkflow(std::shared_ptr<Workflow> workflow) override;
  bool IsExpectedChild(const std::shared_ptr<const Work>& child) override;
  ChildOutcome OnChildComplete(const std::shared_ptr<const Work>& child,
                               const WorkStatus& status) override;

 private:
  bool AddActive(const std::shared_ptr<Work>& child);

  std::unordered_set<std::shared_ptr<Work>> active_;
  const unsigned capacity_;
  std::uint32_t produced_ = 0;  // children started, extra ones included: the next path index
  std::uint32_t extra_ = 0;     // of them, started by StartExtraChild
};

}  // namespace velmo
