#include <gtest/gtest.h>

#include <algorithm>
#include <boost/property_tree/xml_parser.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "velmo/manifest/ManifestExceptions.h"
#include "velmo/manifest/XmlManifestReader.h"

namespace velmo {
namespace {

using boost::property_tree::ptree;

ptree Read(const std::string& xml) {
  std::istringstream in(xml);
  ptree tree;
  ReadXmlManifest(in, tree);
  return tree;
}

TEST(XmlManifestReaderTest, AttributesReadLikeChildElements) {
  const ptree tree = Read(R"(<a x="1"><b y="2">text</b></a>)");
  const ptree& a = tree.get_child("a");
  EXPECT_EQ(a.get<std::string>("x"), "1");
  EXPECT_EQ(a.get<std::string>("b.y"), "2");
  EXPECT_EQ(a.get<std::string>("b"), "text");
  // The attribute children stay where the XML reader put them.
  EXPECT_EQ(a.get<std::string>("<xmlattr>.x"), "1");
  EXPECT_EQ(a.get<std::string>("b.<xmlattr>.y"), "2");
}

TEST(XmlManifestReaderTest, ElementComesBeforeAttributeOfTheSameName) {
  const ptree tree = Read(R"(<a id="attribute"><id>element</id></a>)");
  const ptree& a = tree.get_child("a");
  EXPECT_EQ(a.get<std::string>("id"), "element");
  EXPECT_EQ(a.count("id"), 2u);
  // Appended in order after the existing children.
  auto it = a.begin();
  EXPECT_EQ(it->first, "<xmlattr>");
  EXPECT_EQ((++it)->first, "id");
  EXPECT_EQ(it->second.data(), "element");
  EXPECT_EQ((++it)->second.data(), "attribute");
}

TEST(XmlManifestReaderTest, CommentsBecomeChildren) {
  const ptree tree = Read("<a><!-- note --><b/></a>");
  EXPECT_EQ(tree.get_child("a").count("<xmlcomment>"), 1u);
}

TEST(XmlManifestReaderTest, MalformedDocumentsAreParseFailures) {
  for (const char* xml : {"<a><b></a>", "<a", "<a x=1/>", "text only<", "<a></a><"}) {
    SCOPED_TRACE(xml);
    EXPECT_THROW(Read(xml), ManifestParseException);
  }
}

TEST(XmlManifestReaderTest, DeepNestingIsRefusedBeforeParsing) {
  std::string xml;
  for (int i = 0; i < 100000; ++i) xml += "<a>";
  for (int i = 0; i < 100000; ++i) xml += "</a>";
  EXPECT_THROW(Read(xml), ManifestParseException);

  std::string shallow;
  for (std::size_t i = 0; i < kMaxXmlManifestDepth; ++i) shallow += "<a>";
  for (std::size_t i = 0; i < kMaxXmlManifestDepth; ++i) shallow += "</a>";
  EXPECT_NO_THROW(Read(shallow));
}

TEST(XmlManifestReaderTest, DepthScanSkipsWhatIsNotAnElement) {
  EXPECT_EQ(XmlElementDepth("<a><b/><c></c></a>"), 2u);
  EXPECT_EQ(XmlElementDepth("<?xml version=\"1.0\"?><!DOCTYPE a [<!ENTITY e \"<x>\">]><a/>"), 1u);
  EXPECT_EQ(XmlElementDepth("<a><!-- <b><c> --><![CDATA[<d><e>]]></a>"), 1u);
  EXPECT_EQ(XmlElementDepth("<a t=\"/>\" u='>'><b></b></a>"), 2u);
  EXPECT_EQ(XmlElementDepth("<a><b><c></c></b><d></d></a>"), 3u);
  EXPECT_EQ(XmlElementDepth("\xEF\xBB\xBF<a><b/></a>"), 2u);
}

// The deepest path of a tree the reader built, counting the top as 0.
std::size_t TreeDepth(const ptree& tree) {
  std::size_t deepest = 0;
  for (const auto& child : tree) {
    if (child.first == "<xmlattr>" || child.first == "<xmlcomment>") continue;
    deepest = std::max(deepest, 1 + TreeDepth(child.second));
  }
  return deepest;
}

std::string Repeat(const std::string& part, std::size_t times) {
  std::string out;
  out.reserve(part.size() * times);
  for (std::size_t i = 0; i < times; ++i) out += part;
  return out;
}

// Markup the reader ends earlier, or later, than a naive scan would: each
// hides 100,000 start tags from such a scan, and the reader would recurse
// into every one of them.
TEST(XmlManifestReaderTest, HostileNestingBehindOtherMarkupIsRefused) {
  const std::string deep = Repeat("<a>", 100000);
  for (const std::string& prefix :
       {std::string("<!x[>"), std::string("<!DOCTYPE[>"), std::string("<r><!x[>"),
        std::string("<a\"'>"), std::string("<r><!-- --->"), std::string("<?x > ?>"),
        std::string("<r><![CDATA[]]>"), std::string("<!DOCTYPE r [ ] >")}) {
    SCOPED_TRACE(prefix);
    const std::string xml = prefix + deep + "]>-->\"'?>]]>";
    EXPECT_GT(XmlElementDepth(xml), kMaxXmlManifestDepth);
    EXPECT_THROW(Read(xml), ManifestParseException);
  }
  // Interleaved end tags inside comments do not count down.
  EXPECT_THROW(Read(Repeat("<a><!--</a>-->", 100000)), ManifestParseException);
}

// The scan reports the depth of the tree the reader builds: documents of every
// kind of markup, read whole.
TEST(XmlManifestReaderTest, DepthScanNeverUndercountsTheReader) {
  const std::vector<std::string> documents = {
      "<a><b><c/></b></a>",
      "<?xml version='1.0'?>\n<!-- c --><a x='1' y=\"2\"><b>t&amp;<c/></b></a>",
      "<!DOCTYPE a [<!ELEMENT a ANY>]><a><b/></a>",
      "<!x[><a><b><c></c></b></a>",
      "<a\"'><b/></a\">",
      "<a><![CDATA[<x><y>]]><b><c><d/></c></b></a>",
      "<a><?pi <x><y> ?><b/></a>",
      "<a><!weird <x>><b/></a>",
      "<a >\n<b\t/>\r</a >",
      "<a<b><c/></a<b>",
      "\xEF\xBB\xBF<a><b/></a>",
  };
  for (const std::string& xml : documents) {
    SCOPED_TRACE(xml);
    std::istringstream in(xml);
    ptree tree;
    ASSERT_NO_THROW(boost::property_tree::read_xml(in, tree));
    EXPECT_EQ(XmlElementDepth(xml), TreeDepth(tree));
  }
}

// The reader builds the tree boost's XML reader builds, attributes promoted,
// for markup of every kind; streamed elements are handed out in order instead.
TEST(XmlManifestReaderTest, BuildsBoostsTreeAndStreamsChosenElements) {
  for (const std::string xml :
       {"<?xml version='1.0'?>\n<!-- c --><a x='1' y=\"&lt;2&gt;\"><b>t&amp;<c/>u</b></a>",
        "<!DOCTYPE a [<!ELEMENT a ANY>]><a><![CDATA[<x>]]><b z='&#65;'/></a>",
        "\xEF\xBB\xBF<a id='a'><id>e</id><!-- n --></a>", ""}) {
    SCOPED_TRACE(xml);
    std::istringstream in(xml);
    ptree expected;
    boost::property_tree::read_xml(in, expected);
    PromoteXmlAttributes(expected);
    EXPECT_TRUE(Read(xml) == expected);
  }

  std::vector<std::string> seen;
  const XmlStreamedElements streamed{
      {"p", "fs", "f"}, [&](const ptree& f) { seen.push_back(f.get<std::string>("n")); }};
  std::istringstream in("<p><fs><f n='1'/><g/><f><n>2</n></f></fs><f n='x'/></p>");
  ptree tree;
  ReadXmlManifest(in, tree, &streamed);
  EXPECT_EQ(seen, (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(tree.get_child("p.fs").size(), 1u) << "only <g/> stays";
  EXPECT_EQ(tree.get_child("p").count("f"), 1u) << "an f elsewhere stays";

  // A flood of attributes is refused before the parser spends memory on it.
  std::string many = "<a";
  for (std::size_t i = 0; i <= kMaxXmlAttributes; ++i) many += " a" + std::to_string(i) + "=''";
  EXPECT_EQ(XmlMostAttributes(many + "/>"), kMaxXmlAttributes + 1);
  EXPECT_THROW(Read(many + "/>"), ManifestParseException);
}

}  // namespace
}  // namespace velmo
