#pragma once

#include <cstdint>

#include "velmo/work/SimpleWork.h"

namespace velmo {

// A simple work whose RetryableError results are retried in place up to
// `maxRetries` times per execution (so at most maxRetries + 1 attempts). The
// count starts again whenever the workflow re-queues it (Reset).
class LimitedRetrySimpleWork : public SimpleWork {
 public:
  explicit LimitedRetrySimpleWork(std::uint32_t maxRetries,
                                  WorkCompleteCallback* observer = nullptr)
      : SimpleWork(observer), maxRetries_(maxRetries) {}

  bool CanRetry() override;
  void Reset() override;
  std::uint32_t Retries() const { return retries_; }

 private:
  std::uint32_t maxRetries_;
  std::uint32_t retries_ = 0;  // touched only by the thread running the work
};

}  // namespace velmo
