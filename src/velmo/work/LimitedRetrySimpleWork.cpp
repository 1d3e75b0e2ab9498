#include "velmo/work/LimitedRetrySimpleWork.h"

namespace velmo {

bool LimitedRetrySimpleWork::CanRetry() {
  if (retries_ >= maxRetries_) return false;
  ++retries_;
  return true;
}

void LimitedRetrySimpleWork::Reset() {
  SimpleWork::Reset();
  retries_ = 0;
}

}  // namespace velmo
