#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "velmo/app/i18n/CustomBoostLocale.h"
#include "velmo/app/i18n/EmbeddedMessageCatalog.h"
#include "velmo/app/i18n/LanguageTable.h"

namespace velmo {
namespace {

class RemainingTimeTest : public ::testing::Test {
 protected:
  RemainingTimeTest() : catalog_("updater") { AddLanguageTable(catalog_); }
  EmbeddedMessageCatalog catalog_;
};

TEST_F(RemainingTimeTest, EnglishSentenceForEveryRowOfTheWordingTable) {
  CustomBoostLocale locale(catalog_, "en");
  struct Row {
    std::int32_t hours, minutes, seconds;
    const char* expected;
  };
  const Row rows[] = {
      {2, 2, 0, "2 hours, 2 minutes remaining"},
      {5, 59, 30, "5 hours, 59 minutes remaining"},
      {2, 1, 17, "2 hours, 1 minute remaining"},
      {2, 0, 59, "2 hours remaining"},
      {3, -4, 0, "3 hours remaining"},
      {1, 2, 0, "1 hour, 2 minutes remaining"},
      {1, 1, 45, "1 hour, 1 minute remaining"},
      {1, 0, 5, "1 hour remaining"},
      {1, -1, 0, "1 hour remaining"},
      {0, 2, 9, "2 minutes remaining"},
      {-1, 7, 0, "7 minutes remaining"},
      {0, 1, 30, "1 minute remaining"},
      {0, 0, 2, "2 seconds remaining"},
      {0, 0, 59, "59 seconds remaining"},
      {0, 0, 1, "1 second remaining"},
      {0, 0, 0, "0 seconds remaining"},
      {0, 0, -5, "0 seconds remaining"},
      {-2, -3, -4, "0 seconds remaining"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(locale.RemainingTimeWords(r.hours, r.minutes, r.seconds), r.expected)
        << r.hours << "h " << r.minutes << "m " << r.seconds << "s";
  }
}

TEST_F(RemainingTimeTest, EstimatesAreRoundedUpToWholeMinutesFrom61Seconds) {
  CustomBoostLocale locale(catalog_, "en");
  const std::vector<std::pair<std::int32_t, std::string>> cases = {
      {-1, "Calculating time remaining"},
      {0, "0 seconds remaining"},
      {1, "1 second remaining"},
      {59, "59 seconds remaining"},
      {60, "1 minute remaining"},
      {61, "2 minutes remaining"},
      {119, "2 minutes remaining"},
      {120, "3 minutes remaining"},
      {150, "3 minutes remaining"},
      {3540, "1 hour remaining"},
      {3599, "1 hour remaining"},
      {3600, "1 hour, 1 minute remaining"},
      {3660, "1 hour, 2 minutes remaining"},
      {7140, "2 hours remaining"},
      {7200, "2 hours, 1 minute remaining"},
      {9000, "2 hours, 31 minutes remaining"},
      {-2, "0 seconds remaining"},
  };
  for (const auto& [seconds, expected] : cases) {
    EXPECT_EQ(locale.RemainingTimeText(seconds), expected) << seconds;
  }
}

TEST_F(RemainingTimeTest, HugeEstimatesDoNotOverflowAndStayPlainIntegers) {
  CustomBoostLocale locale(catalog_, "de");
  // 2147483647 + 60 seconds = 596523 h 15 min 7 s; no digit grouping.
  EXPECT_EQ(locale.RemainingTimeText(std::numeric_limits<std::int32_t>::max()),
            "596523 Stunden, 15 Minuten verbleibend");
  EXPECT_EQ(locale.RemainingTimeText(std::numeric_limits<std::int32_t>::min()),
            "0 Sekunden verbleibend");
}

TEST_F(RemainingTimeTest, SentencesAreTranslatedAndPlaceholdersMayMove) {
  CustomBoostLocale german(catalog_, "de");
  EXPECT_EQ(german.RemainingTimeText(-1), "Berechne verbleibende Zeit");
  EXPECT_EQ(german.RemainingTimeText(9000), "2 Stunden, 31 Minuten verbleibend");
  EXPECT_EQ(german.RemainingTimeText(1), "1 Sekunde verbleibend");

  CustomBoostLocale japanese(catalog_, "ja");
  EXPECT_EQ(japanese.RemainingTimeText(9000), "残り 2 時間 31 分");
  EXPECT_EQ(japanese.RemainingTimeText(61), "残り 2 分");

  // The figure comes first in Russian's abbreviated form, after the word in Greek.
  CustomBoostLocale russian(catalog_, "ru");
  EXPECT_EQ(russian.RemainingTimeText(59), "Осталось: 59 сек.");
  CustomBoostLocale greek(catalog_, "el");
  EXPECT_EQ(greek.RemainingTimeText(3720), "Απομένουν 1 ώρα και 3 λεπτά");
}

// The dialog reads the locale from the main and the monitor thread at once.
TEST_F(RemainingTimeTest, ConcurrentReadersSeeTheSameTexts) {
  CustomBoostLocale locale(catalog_, "de");
  const std::string expected = locale.RemainingTimeText(9000);
  std::vector<std::thread> threads;
  std::vector<int> mismatches(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        if (locale.RemainingTimeText(9000) != expected) ++mismatches[static_cast<std::size_t>(t)];
        if (locale.Format("{1} Downloader", "Velmo") != "Velmo-Downloader")
          ++mismatches[static_cast<std::size_t>(t)];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int m : mismatches) EXPECT_EQ(m, 0);
}

}  // namespace
}  // namespace velmo
