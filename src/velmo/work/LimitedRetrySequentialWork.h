#pragma once

#include <cstdint>

#include "velmo/work/SequentialWork.h"

namespace velmo {

// A sequence that restarts from its first child when a child ends with
// Error, up to `maxRetries` times. Once the retries are used up, each further
// Error is reported upward as a RetryableError (suspending the workflow) and
// the sequence is queued again to run on resume. The count survives its own
// restarts and returns to 0 only on a Reset from outside.
class LimitedRetrySequentialWork : public SequentialWork {
 public:
  LimitedRetrySequentialWork(WorkCompleteCallback* observer, std::uint32_t maxRetries)
      : SequentialWork(observer, 2), maxRetries_(maxRetries) {}

  bool CanRetry() override;
  void Reset() override;
  void Retry() override;
  std::uint32_t Retries() const;

 protected:
  ChildOutcome OnChildComplete(const std::shared_ptr<const Work>& child,
                               const WorkStatus& status) override;

 private:
  std::uint32_t maxRetries_;
  std::uint32_t retries_ = 0;  // guarded by mutex_
};

}  // namespace velmo
