#include <gtest/gtest.h>

#include <sstream>

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
  EXPECT_EQ(XmlElementDepth("<?xml version=\"1.0\"?><!DOCTYPE a [<!ENTITY e \"<x>\">]><a/>"), 0u);
  EXPECT_EQ(XmlElementDepth("<a><!-- <b><c> --><![CDATA[<d><e>]]></a>"), 1u);
  EXPECT_EQ(XmlElementDepth("<a t=\"/>\" u='>'><b></b></a>"), 2u);
  EXPECT_EQ(XmlElementDepth("<a><b><c></c></b><d></d></a>"), 3u);
}

}  // namespace
}  // namespace velmo
