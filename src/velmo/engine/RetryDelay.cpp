#include "velmo/engine/RetryDelay.h"

#include <algorithm>

namespace velmo {

std::chrono::milliseconds RetryDelay(const EngineSettings& settings, std::uint32_t failures,
                                     std::int32_t retryAfter, double unit) {
  const std::int64_t most = std::max<std::int64_t>(settings.retryBackoffMax, 0);
  std::int64_t backoff = std::clamp<std::int64_t>(settings.retryBackoffBase, 0, most);
  // Doubling stops at the cap, long before 64 bits could overflow.
  for (std::uint32_t i = 1; i < failures && backoff < most; ++i) {
    backoff = std::min(backoff * 2, most);
  }
  // Half of the delay is fixed, half drawn, so that many clients turned away
  // together do not all come back together.
  const std::int64_t fixed = backoff / 2;
  const std::int64_t drawnPart = backoff - fixed;
  std::int64_t wait = fixed + static_cast<std::int64_t>(static_cast<double>(drawnPart) *
                                                        std::clamp(unit, 0.0, 1.0));
  if (retryAfter >= 0) {
    const std::int64_t asked =
        std::min<std::int64_t>(retryAfter, std::max(settings.maxRetryAfter, 0)) * 1000;
    wait = std::max(wait, asked);
  }
  return std::chrono::milliseconds(wait);
}

}  // namespace velmo
