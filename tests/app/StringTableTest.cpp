#include <gtest/gtest.h>

#include <string>

#include "velmo/app/EmbeddedStringTable.h"
#include "velmo/app/StringTable.h"
#include "velmo/platform/BuildValues.h"

namespace velmo {
namespace {

const std::string kEAcute = "\xC3\xA9";         // U+00E9, one unit
const std::string kEuro = "\xE2\x82\xAC";       // U+20AC, one unit
const std::string kEmoji = "\xF0\x9F\x98\x80";  // U+1F600, a surrogate pair

std::string Repeat(const std::string& piece, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i) out += piece;
  return out;
}

TEST(LimitUtf16UnitsTest, CutsLongTextToItsFirst254Units) {
  const std::string text = Repeat("x", 300);
  EXPECT_EQ(LimitUtf16Units(text, kMaxStringUnits), Repeat("x", 254));
  EXPECT_EQ(LimitUtf16Units(Repeat("x", 254), kMaxStringUnits), Repeat("x", 254));
  EXPECT_EQ(LimitUtf16Units("", kMaxStringUnits), "");
}

TEST(LimitUtf16UnitsTest, CountsUnitsNotBytes) {
  // 300 two- and three-byte characters are 300 units, cut to 254 characters.
  EXPECT_EQ(LimitUtf16Units(Repeat(kEAcute, 300), 254), Repeat(kEAcute, 254));
  EXPECT_EQ(LimitUtf16Units(Repeat(kEuro, 300), 254), Repeat(kEuro, 254));
  // Characters outside the basic plane take two units each.
  EXPECT_EQ(LimitUtf16Units(Repeat(kEmoji, 200), 254), Repeat(kEmoji, 127));
}

TEST(LimitUtf16UnitsTest, NeverSplitsASurrogatePair) {
  // 253 units, then a pair that would need units 254 and 255: left out whole.
  const std::string text = Repeat("a", 253) + kEmoji + "b";
  EXPECT_EQ(LimitUtf16Units(text, 254), Repeat("a", 253));
  // A pair that ends exactly on the limit stays.
  EXPECT_EQ(LimitUtf16Units(Repeat("a", 252) + kEmoji + "b", 254), Repeat("a", 252) + kEmoji);
}

TEST(LimitUtf16UnitsTest, InvalidBytesCountAsOneUnitAndAreNotExpanded) {
  // A stray continuation byte, a truncated sequence and an overlong form.
  EXPECT_EQ(LimitUtf16Units("\x80\x80\x80", 2), "\x80\x80");
  EXPECT_EQ(LimitUtf16Units("ab\xE2\x82", 3), "ab\xE2");
  EXPECT_EQ(LimitUtf16Units("\xC0\xAFz", 2), "\xC0\xAF");
  // A truncated four-byte lead at the very end does not read past the text.
  EXPECT_EQ(LimitUtf16Units("a\xF0\x9F", 10), "a\xF0\x9F");
}

TEST(EmbeddedStringTableTest, LooksUpByIdAndCutsLongEntries) {
  const std::string longText = Repeat("y", 300);
  const build::StringEntry entries[] = {
      {102, "host.example"}, {108, "Caf\xC3\xA9"}, {129, longText.c_str()}, {0, nullptr}};
  const EmbeddedStringTable table(entries);
  EXPECT_EQ(table.Load(102), "host.example");
  EXPECT_EQ(table.Load(108), "Caf\xC3\xA9");
  EXPECT_EQ(table.Load(129), Repeat("y", 254));
  EXPECT_EQ(table.Load(103), "");
  EXPECT_EQ(table.Load(0), "");  // the terminator is not an entry
}

TEST(EmbeddedStringTableTest, DefaultTableIsTheProgramsOwn) {
  const EmbeddedStringTable table;
  ASSERT_NE(build::kStrings[0].text, nullptr) << "the branding file has no strings";
  for (const build::StringEntry* e = build::kStrings; e->text; ++e) {
    EXPECT_EQ(table.Load(e->id), LimitUtf16Units(e->text, kMaxStringUnits)) << e->id;
  }
}

}  // namespace
}  // namespace velmo
