#include "velmo/http/RetryAfter.h"

#include <curl/curl.h>

#include <algorithm>
#include <limits>
#include <string>

namespace velmo {

std::optional<std::int32_t> ParseRetryAfter(std::string_view value, std::time_t now) {
  const auto begin = value.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return std::nullopt;
  value = value.substr(begin, value.find_last_not_of(" \t\r\n") - begin + 1);
  constexpr std::int64_t kMost = std::numeric_limits<std::int32_t>::max();
  if (value.find_first_not_of("0123456789") == std::string_view::npos) {
    std::int64_t seconds = 0;
    for (const char digit : value) {
      seconds = std::min<std::int64_t>(seconds * 10 + (digit - '0'), kMost);
    }
    return static_cast<std::int32_t>(seconds);
  }
  // A date needs a weekday or month name: libcurl's date parser would also
  // take "-5" or "1.5" as some time of today.
  if (value.find_first_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ") ==
      std::string_view::npos) {
    return std::nullopt;
  }
  const std::string text(value);
  const std::time_t at = curl_getdate(text.c_str(), nullptr);
  if (at == static_cast<std::time_t>(-1)) return std::nullopt;
  const std::int64_t seconds = static_cast<std::int64_t>(at) - static_cast<std::int64_t>(now);
  return static_cast<std::int32_t>(std::min(std::max<std::int64_t>(seconds, 0), kMost));
}

}  // namespace velmo
