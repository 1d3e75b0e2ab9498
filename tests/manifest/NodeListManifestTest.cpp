#include <gtest/gtest.h>

#include "ManifestTestSupport.h"
#include "velmo/manifest/ManifestExceptions.h"
#include "velmo/manifest/StandardNodeListManifest.h"
#include "velmo/manifest/StandardNodeManifest.h"
#include "velmo/optimizer/NodeStatistics.h"

namespace velmo {
namespace {

using test::ManifestDataFile;
using test::XmlTree;

StandardNodeListManifest ParseList(const std::string& xml) {
  StandardNodeListManifest list;
  list.Parse(XmlTree(xml));
  return list;
}

std::string Node(const std::string& id, const std::string& extra = "") {
  return "<NodeInfo NodeId=\"" + id + "\" Host=\"" + id + ".example\" " + extra + "/>";
}

std::string List(const std::string& nodes) {
  return "<ArrayOfNodeInfo>" + nodes + "</ArrayOfNodeInfo>";
}

std::vector<std::string> Ids(const NodeListManifest& list) {
  std::vector<std::string> ids;
  for (const auto& node : list.GetNodes()) ids.push_back(node->GetNodeId());
  return ids;
}

TEST(NodeListManifestTest, NamespacedListParsesWithDefaultsAndNormalization) {
  const auto list = ParseList(ManifestDataFile("nodes-namespaced.xml"));
  const auto nodes = list.GetNodes();
  // n2 has weight 0 while others have weight: dropped.
  ASSERT_EQ(Ids(list), (std::vector<std::string>{"n1", "n3"}));
  EXPECT_EQ(nodes[0]->GetHost(), "node1.example:8080");
  EXPECT_EQ(nodes[0]->GetPath(), "/packages/");
  EXPECT_EQ(nodes[0]->GetWeight(), 2);
  EXPECT_EQ(nodes[1]->GetPath(), "/packages/");
  EXPECT_EQ(nodes[1]->GetWeight(), 1);  // "abc" counts as absent
  EXPECT_EQ(list.GetTotalWeight(), 3u);
  EXPECT_NE(nodes[0]->GetStatistics(), nullptr);
  EXPECT_NE(nodes[0]->GetStatistics(), nodes[1]->GetStatistics());
}

TEST(NodeListManifestTest, PathIsNormalizedToSlashes) {
  const std::pair<const char*, const char*> cases[] = {
      {"packages", "/packages/"}, {"/a/b", "/a/b/"}, {"a/b/", "/a/b/"}, {"/", "/"}, {"", "/"}};
  for (const auto& [given, expected] : cases) {
    const auto list = ParseList(List(Node("n", std::string("Path=\"") + given + "\"")));
    EXPECT_EQ(list.GetNodes()[0]->GetPath(), expected) << given;
  }
}

TEST(NodeListManifestTest, WeightRules) {
  EXPECT_EQ(Ids(ParseList(List(Node("a", "Weight=\"0\"") + Node("b", "Weight=\"2\"") +
                               Node("c", "Weight=\"3\"")))),
            (std::vector<std::string>{"b", "c"}));

  const auto allZero = ParseList(
      List(Node("a", "Weight=\"0\"") + Node("b", "Weight=\"0\"") + Node("c", "Weight=\"0\"")));
  ASSERT_EQ(Ids(allZero), (std::vector<std::string>{"a", "b", "c"}));
  for (const auto& node : allZero.GetNodes()) EXPECT_EQ(node->GetWeight(), 1);

  // Unconvertible weights count as absent; negative ones as nothing.
  for (const char* weight : {"abc", "1.5", "99999999999", ""}) {
    EXPECT_EQ(ParseList(List(Node("a", std::string("Weight=\"") + weight + "\"")))
                  .GetNodes()[0]
                  ->GetWeight(),
              1)
        << weight;
  }
  EXPECT_EQ(Ids(ParseList(List(Node("a", "Weight=\"-1\"") + Node("b")))),
            std::vector<std::string>{"b"});

  // Weights whose 32-bit sum wraps to 0 still count as weights.
  const auto wrapped =
      ParseList(List(Node("a", "Weight=\"2147483647\"") + Node("b", "Weight=\"2147483647\"") +
                     Node("c", "Weight=\"2\"")));
  EXPECT_EQ(wrapped.GetTotalWeight(), 0u);
  EXPECT_EQ(wrapped.GetNodes()[0]->GetWeight(), 2147483647);
}

TEST(NodeListManifestTest, InvalidLists) {
  EXPECT_THROW(ParseList("<Nodes/>"), ManifestParseException);
  EXPECT_THROW(ParseList(List("")), ManifestParseException);
  EXPECT_THROW(ParseList(List("<!-- none --><Other NodeId=\"a\" Host=\"h\"/>")),
               ManifestParseException);
  EXPECT_THROW(ParseList(List("<NodeInfo Host=\"h\"/>")), ManifestParseException);
  EXPECT_THROW(ParseList(List("<NodeInfo NodeId=\"a\"/>")), ManifestParseException);
  EXPECT_THROW(ParseList(List("<NodeInfo NodeId=\"\" Host=\"h\"/>")), ManifestParseException);
  EXPECT_THROW(ParseList("<ArrayOfNodeInfo><NodeInfo>"), ManifestParseException);
}

std::string HostNode(const std::string& id, const std::string& host,
                     const std::string& extra = "") {
  return "<NodeInfo NodeId=\"" + id + "\" Host=\"" + host + "\" " + extra + "/>";
}

TEST(NodeListManifestTest, NodesNoRequestCouldReachAreDroppedAndReported) {
  const auto list = ParseList(
      List(HostNode("a", "127.0.0.1:notaport") + HostNode("b", "127.0.0.1:8080") +
           HostNode("c", "h:99999", "Weight=\"5\"") + HostNode("d", "h:0") + HostNode("e", "h:-1") +
           HostNode("f", "[::1") + HostNode("g", "h/other") + HostNode("h", "h?x") +
           HostNode("i", "user@h") + HostNode("j", "a b") + HostNode("k", ":80") +
           HostNode("l", "[::1]:8080") + HostNode("m", "node.example") + HostNode("n", "h:65535") +
           // A scheme before the host: http and https only, with a host after it.
           HostNode("o", "https://node.example:8443") + HostNode("p", "HTTP://h:81/") +
           HostNode("q", "ftp://h") + HostNode("r", "https://") + HostNode("s", "https://h/x") +
           // Bytes in no host name, and a path no request URL can be made of.
           HostNode("t",
                    "h\xba"
                    "99") +
           HostNode("u", "h", "Path=\"/a%x/\"") + HostNode("v", "h", "Path=\"/a%20b/\"") +
           HostNode("w", "")));
  EXPECT_EQ(Ids(list), (std::vector<std::string>{"b", "l", "m", "n", "o", "p", "v"}));
  std::vector<std::string> dropped;
  for (const auto& node : list.GetDroppedNodes()) {
    dropped.push_back(node.nodeId);
    EXPECT_FALSE(node.reason.empty()) << node.host;
  }
  EXPECT_EQ(dropped, (std::vector<std::string>{"a", "c", "d", "e", "f", "g", "h", "i", "j", "k",
                                               "q", "r", "s", "t", "u", "w"}));
  EXPECT_EQ(list.GetDroppedNodes()[0].host, "127.0.0.1:notaport");

  // Dropped nodes take no part in the weight rule: the others keep theirs.
  const auto weighted = ParseList(
      List(HostNode("a", "h:99999", "Weight=\"4\"") + HostNode("b", "h", "Weight=\"0\"")));
  ASSERT_EQ(Ids(weighted), std::vector<std::string>{"b"});
  EXPECT_EQ(weighted.GetNodes()[0]->GetWeight(), 1);

  // A list of nothing but unusable nodes is no list.
  EXPECT_THROW(ParseList(List(HostNode("a", "h:99999") + HostNode("b", "h:x"))),
               ManifestParseException);
}

TEST(NodeManifestTest, WriteAndWithStatistics) {
  const auto list = ParseList(List(R"(<NodeInfo NodeId="n" Host="h" Weight="5" Path="p"/>)"));
  const auto node = list.GetNodes()[0];
  node->GetStatistics()->Record(1000, 500, false);

  boost::property_tree::ptree tree;
  tree.put("Node", "old");
  node->Write(tree);
  EXPECT_EQ(tree.get<std::string>("Node"), "h");
  EXPECT_EQ(tree.get<std::string>("Path"), "/p/");
  EXPECT_EQ(tree.get<std::string>("Weight"), "5");
  EXPECT_EQ(tree.get<std::string>("Requests"), "1");
  EXPECT_EQ(tree.get<std::string>("Average Request Speed"), "2000");
  EXPECT_EQ(tree.count("Node"), 1u);

  auto other = std::make_shared<NodeStatistics>();
  const auto paired = node->WithStatistics(other);
  EXPECT_NE(paired, node);
  EXPECT_EQ(paired->GetStatistics(), other);
  EXPECT_EQ(paired->GetNodeId(), "n");
  EXPECT_EQ(paired->GetHost(), "h");
  EXPECT_EQ(paired->GetPath(), "/p/");
  EXPECT_EQ(paired->GetWeight(), 5);
  EXPECT_NE(node->GetStatistics(), other);
}

}  // namespace
}  // namespace velmo
