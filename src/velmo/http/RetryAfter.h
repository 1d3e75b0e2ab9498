#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string_view>

namespace velmo {

// The wait a Retry-After header value asks for, in seconds from `now`: delta
// seconds ("120") or an HTTP date (IMF-fixdate, RFC 850 or asctime form),
// a date already past being no wait at all. None for a value that is
// neither (negative, fractional, garbage); a delta too large for 32 bits is
// cut to the largest, since the caller bounds every wait anyway.
std::optional<std::int32_t> ParseRetryAfter(std::string_view value, std::time_t now);

// True for the answers after which a server's Retry-After is honoured:
// 429 (too many requests) and 503 (unavailable).
inline bool AsksToWait(std::int32_t responseCode) {
  return responseCode == 429 || responseCode == 503;
}

}  // namespace velmo
