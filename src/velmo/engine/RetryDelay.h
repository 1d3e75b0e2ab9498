#pragma once

#include <chrono>
#include <cstdint>

#include "velmo/engine/EngineSettings.h"

namespace velmo {

// The wait before asking a host again after `failures` consecutive failed
// requests (1 after the first): retryBackoffBase doubled per earlier failure
// up to retryBackoffMax, of which half is always waited and half scaled by
// `unit` (a draw in [0, 1)), so that the wait never falls to nothing yet
// clients that failed together do not come back together. A server's
// `retryAfter` (seconds, negative when it named none) lengthens the wait up
// to maxRetryAfter; it never shortens it.
std::chrono::milliseconds RetryDelay(const EngineSettings& settings, std::uint32_t failures,
                                     std::int32_t retryAfter, double unit);

}  // namespace velmo
