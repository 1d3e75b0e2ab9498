#include "velmo/work/LimitedRetrySequentialWork.h"

namespace velmo {

bool LimitedRetrySequentialWork::CanRetry() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (retries_ >= maxRetries_) return false;
  ++retries_;
  return true;
}

std::uint32_t LimitedRetrySequentialWork::Retries() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return retries_;
}

void LimitedRetrySequentialWork::Reset() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  retries_ = 0;
  ResetSequence();
}

void LimitedRetrySequentialWork::Retry() {
  ResetSequence();
  Execute(LockWorkflow());
}

ChildOutcome LimitedRetrySequentialWork::OnChildComplete(const std::shared_ptr<const Work>& child,
                                                         const WorkStatus& status) {
  if (status.result == WorkResult::Error) {
    return ChildOutcome::FromStatus(WorkStatus(WorkResult::RetryableError, status.data));
  }
  return SequentialWork::OnChildComplete(child, status);
}

}  // namespace velmo
