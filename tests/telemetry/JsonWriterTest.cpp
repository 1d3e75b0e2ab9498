#include <gtest/gtest.h>

#include <boost/property_tree/json_parser.hpp>
#include <sstream>
#include <streambuf>

#include "velmo/telemetry/JsonWriter.h"

namespace velmo {
namespace {

using boost::property_tree::ptree;

ptree Leaf(const std::string& value) { return ptree(value); }

TEST(JsonWriterTest, ObjectsAreCompactWithKeysInInsertionOrderAndEveryLeafAString) {
  ptree tree;
  tree.put("zeta", 1);
  tree.put("alpha", "x");
  tree.put("mid", true);
  EXPECT_EQ(ToJson(tree), "{\"zeta\":\"1\",\"alpha\":\"x\",\"mid\":\"true\"}\n");
}

TEST(JsonWriterTest, EmptyKeyChildrenFormArraysAndTheEmptyTopLevelIsAnEmptyArray) {
  EXPECT_EQ(ToJson(ptree()), "[]\n");
  EXPECT_EQ(ToJson(ptree("ignored")), "[]\n") << "the top level is never a string";

  ptree list;
  list.push_back({"", Leaf("a")});
  list.push_back({"", Leaf("7")});
  EXPECT_EQ(ToJson(list), "[\"a\",\"7\"]\n");

  // Nested arrays, an object inside an array, and an array inside an object.
  ptree inner;
  inner.push_back({"", Leaf("1")});
  inner.push_back({"", Leaf("2")});
  ptree object;
  object.put("k", "v");
  ptree outer;
  outer.push_back({"", inner});
  outer.push_back({"", object});
  outer.push_back({"", Leaf("")});
  EXPECT_EQ(ToJson(outer), "[[\"1\",\"2\"],{\"k\":\"v\"},\"\"]\n");

  ptree holder;
  holder.add_child("list", inner);
  holder.put("empty", "");
  EXPECT_EQ(ToJson(holder), "{\"list\":[\"1\",\"2\"],\"empty\":\"\"}\n");
}

TEST(JsonWriterTest, MarkersBecomeEmptyContainersOnlyWhenExact) {
  ptree tree;
  tree.put("o", kJsonEmptyObject);
  tree.put("a", kJsonEmptyArray);
  tree.put("near", std::string(kJsonEmptyObject) + " ");
  EXPECT_EQ(ToJson(tree),
            "{\"o\":{},\"a\":[],\"near\":\"boost::property_tree::json_parser::empty_object \"}\n");

  ptree list;
  list.push_back({"", Leaf(kJsonEmptyObject)});
  EXPECT_EQ(ToJson(list), "[{}]\n");
}

TEST(JsonWriterTest, MixedKeysMakeAnObjectAndNodeValuesBesideChildrenAreDropped) {
  ptree tree;
  tree.push_back({"", Leaf("first")});
  tree.push_back({"named", Leaf("second")});
  EXPECT_EQ(ToJson(tree), "{\"\":\"first\",\"named\":\"second\"}\n");

  ptree parent("value of a node with children");
  parent.put("child", "c");
  ptree root;
  root.add_child("p", parent);
  EXPECT_EQ(ToJson(root), "{\"p\":{\"child\":\"c\"}}\n");
}

TEST(JsonWriterTest, EscapesByteByByte) {
  EXPECT_EQ(EscapeJsonString("a\"b\\c/d"), "a\\\"b\\\\c\\/d");
  EXPECT_EQ(EscapeJsonString("\b\t\n\f\r"), "\\b\\t\\n\\f\\r");
  EXPECT_EQ(EscapeJsonString(std::string("\0\x01\x0b\x1f", 4)), "\\u0000\\u0001\\u000B\\u001F");
  EXPECT_EQ(EscapeJsonString(" ~\x7f"), " ~\x7f") << "space, tilde and DEL are copied";
  // Each byte of a UTF-8 sequence is escaped on its own: U+00E9 and U+20AC.
  EXPECT_EQ(EscapeJsonString("\xC3\xA9"), "\\u00C3\\u00A9");
  EXPECT_EQ(EscapeJsonString("\xE2\x82\xAC"), "\\u00E2\\u0082\\u00AC");
  EXPECT_EQ(EscapeJsonString("\xFF\x80"), "\\u00FF\\u0080") << "invalid UTF-8 too";

  ptree tree;
  tree.put_child(ptree::path_type("k\xC3\xA9/\"", '|'), Leaf("C:\\Temp/x\n"));
  EXPECT_EQ(ToJson(tree), "{\"k\\u00C3\\u00A9\\/\\\"\":\"C:\\\\Temp\\/x\\n\"}\n");
}

TEST(JsonWriterTest, OutputParsesBackAsTheSameStrings) {
  ptree tree;
  std::string every;
  for (int b = 1; b < 256; ++b) every += static_cast<char>(b);
  tree.put("every", every);
  tree.put("path.to.leaf", "leaf");
  std::istringstream in(ToJson(tree));
  ptree back;
  boost::property_tree::read_json(in, back);
  EXPECT_EQ(back.get<std::string>("path.to.leaf"), "leaf");
  // The reader turns \u00XX back into the single code point XX, which it stores
  // as one byte for XX < 0x80 and as two UTF-8 bytes above, so compare the
  // ASCII part only.
  EXPECT_EQ(back.get<std::string>("every").substr(0, 127), every.substr(0, 127));
}

TEST(JsonWriterTest, DoublesUseSixteenSignificantDigits) {
  EXPECT_EQ(FormatJsonDouble(12.5), "12.5");
  EXPECT_EQ(FormatJsonDouble(1.5), "1.5");
  EXPECT_EQ(FormatJsonDouble(0.0), "0");
  EXPECT_EQ(FormatJsonDouble(1.0 / 3.0), "0.3333333333333333");
  EXPECT_EQ(FormatJsonDouble(0.1), "0.1");
  EXPECT_EQ(FormatJsonDouble(1e20), "1e+20");
  EXPECT_EQ(FormatJsonDouble(18446744073709551.615), "1.844674407370955e+16");
}

class FailingBuffer : public std::streambuf {
 protected:
  int_type overflow(int_type) override { return traits_type::eof(); }
};

TEST(JsonWriterTest, AFailingStreamThrows) {
  FailingBuffer buffer;
  std::ostream out(&buffer);
  ptree tree;
  tree.put("k", "v");
  EXPECT_THROW(WriteJson(out, tree), std::ios_base::failure);

  std::ostringstream good;
  WriteJson(good, tree);
  EXPECT_EQ(good.str(), "{\"k\":\"v\"}\n");
}

}  // namespace
}  // namespace velmo
