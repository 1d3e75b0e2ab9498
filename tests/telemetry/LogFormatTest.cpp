#include <gtest/gtest.h>

#include "velmo/telemetry/LogFormat.h"
#include "velmo/telemetry/LogLevel.h"

namespace velmo {
namespace {

std::chrono::system_clock::time_point At(std::time_t seconds, int millis = 0) {
  return std::chrono::system_clock::from_time_t(seconds) + std::chrono::milliseconds(millis);
}

// 2014-05-02 18:03:07 UTC.
constexpr std::time_t kSample = 1399053787;

TEST(LogFormatTest, FileNamesUseUtcAndAppendTheCounterAfterTheWholeName) {
  EXPECT_EQ(LogFileName(At(kSample, 999), 0), "Log.2014.05.02.18.03.07.txt");
  EXPECT_EQ(LogFileName(At(kSample), 1), "Log.2014.05.02.18.03.07.txt.1");
  EXPECT_EQ(LogFileName(At(kSample), 12), "Log.2014.05.02.18.03.07.txt.12");
  EXPECT_EQ(LogFileName(At(0), 0), "Log.1970.01.01.00.00.00.txt");
}

TEST(LogFormatTest, LinePrefixIsTwentyTwoCharacters) {
  const std::string prefix = LogLinePrefix(At(kSample, 500));
  EXPECT_EQ(prefix, "[2014-05-02 18:03:07] ");
  EXPECT_EQ(prefix.size(), 22u);
}

TEST(LogFormatTest, TheTimeZoneDoesNotMatter) {
  const char* saved = getenv("TZ");
  std::string savedValue = saved ? saved : "";
  setenv("TZ", "VLM-5:30", 1);  // a POSIX rule, so no zone database is needed
  tzset();
  EXPECT_EQ(LogLinePrefix(At(kSample)), "[2014-05-02 18:03:07] ");
  if (saved) {
    setenv("TZ", savedValue.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

TEST(LogLevelTest, DefaultMaskLetsEverythingButOrdinaryCompletionsThrough) {
  EXPECT_EQ(static_cast<std::int32_t>(kDefaultLogMask), -9);
  for (std::uint32_t level : {1u, 2u, 4u, 18u, 20u, 24u}) {
    EXPECT_TRUE(LogLevelPasses(level, kDefaultLogMask)) << level;
  }
  EXPECT_FALSE(LogLevelPasses(kLogWorkComplete, kDefaultLogMask));
  EXPECT_FALSE(LogLevelPasses(kLogTransferEvent, 0));
  EXPECT_TRUE(LogLevelPasses(kLogTransferEvent, 1));
  EXPECT_FALSE(LogLevelPasses(kLogWorkFailure | kLogImportant, 1));
}

}  // namespace
}  // namespace velmo
