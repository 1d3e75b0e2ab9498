#include <gtest/gtest.h>

#include "velmo/app/KeyValueList.h"

namespace velmo {
namespace {

TEST(KeyValueListTest, SkipsBrokenAndEmptyEntriesAndKeepsOrder) {
  const KeyValueList pairs = ParseKeyValueList("de=Deutsch;broken;;en=English");
  ASSERT_EQ(pairs.size(), 2u);
  EXPECT_EQ(pairs[0], (std::pair<std::string, std::string>("de", "Deutsch")));
  EXPECT_EQ(pairs[1], (std::pair<std::string, std::string>("en", "English")));
}

TEST(KeyValueListTest, SplitsAtTheFirstEqualsAndTrimsNothing) {
  const KeyValueList pairs = ParseKeyValueList("a=b=c; x = y ;=empty-key;k=;");
  ASSERT_EQ(pairs.size(), 4u);
  EXPECT_EQ(pairs[0].first, "a");
  EXPECT_EQ(pairs[0].second, "b=c");
  EXPECT_EQ(pairs[1].first, " x ");
  EXPECT_EQ(pairs[1].second, " y ");
  EXPECT_EQ(pairs[2].first, "");
  EXPECT_EQ(pairs[2].second, "empty-key");
  EXPECT_EQ(pairs[3].first, "k");
  EXPECT_EQ(pairs[3].second, "");
}

TEST(KeyValueListTest, EmptyAndSeparatorOnlyTextsGiveNothing) {
  EXPECT_TRUE(ParseKeyValueList("").empty());
  EXPECT_TRUE(ParseKeyValueList(";;;").empty());
  EXPECT_TRUE(ParseKeyValueList("plain value").empty());
}

TEST(KeyValueListTest, LocalizedPicksTheExactLanguage) {
  const std::string value = "de=Spiel;fr=Jeu";
  EXPECT_EQ(Localized(value, "fr"), "Jeu");
  EXPECT_EQ(Localized(value, "de"), "Spiel");
  EXPECT_EQ(Localized(value, "es"), "");
  EXPECT_EQ(Localized(value, "FR"), "");   // codes are case-sensitive
  EXPECT_EQ(Localized(value, "d"), "");    // no prefix match
  EXPECT_EQ(Localized(value, ""), value);  // no language: the text as it is
}

TEST(KeyValueListTest, LocalizedTakesTheFirstOfRepeatedKeys) {
  EXPECT_EQ(Localized("de=Eins;de=Zwei", "de"), "Eins");
  // A plain value read for a language has no entry for it.
  EXPECT_EQ(Localized("Velmo Demo", "de"), "");
}

}  // namespace
}  // namespace velmo
