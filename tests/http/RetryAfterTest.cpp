#include <gtest/gtest.h>

#include <limits>
#include <optional>

#include "velmo/http/RetryAfter.h"

namespace velmo {
namespace {

TEST(RetryAfterTest, ReadsDeltaSecondsAndEveryHttpDateForm) {
  const std::time_t now = 1445412480;  // Wed, 21 Oct 2015 07:28:00 GMT
  const struct {
    const char* value;
    std::optional<std::int32_t> seconds;
  } cases[] = {
      {"120", 120},
      {" 5\r\n", 5},
      {"0", 0},
      {"99999999999999999999", std::numeric_limits<std::int32_t>::max()},
      {"Wed, 21 Oct 2015 07:28:30 GMT", 30},      // IMF-fixdate
      {"Wednesday, 21-Oct-15 07:29:00 GMT", 60},  // RFC 850
      {"Wed Oct 21 07:28:10 2015", 10},           // asctime
      {"Wed, 21 Oct 2015 07:00:00 GMT", 0},       // already past
      {"", std::nullopt},
      {"-5", std::nullopt},
      {"1.5", std::nullopt},
      {"soon", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseRetryAfter(c.value, now), c.seconds) << '"' << c.value << '"';
  }
}

}  // namespace
}  // namespace velmo
