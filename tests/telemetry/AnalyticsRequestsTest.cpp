#include <gtest/gtest.h>

#include "velmo/telemetry/AnalyticsRequests.h"
#include "velmo/telemetry/JsonWriter.h"

namespace velmo {
namespace {

using boost::property_tree::ptree;

std::string Body(const OutputManifest& request) {
  ptree tree;
  request.Write(tree);
  return ToJson(tree);
}

TEST(AnalyticsRequestsTest, CounterRecord) {
  SimpleEventAnalyticsRequest request("partner", "pkg", "?", "numStarts");
  EXPECT_EQ(Body(request),
            "{\"pid\":\"partner\",\"pkgid\":\"pkg\",\"vid\":\"?\","
            "\"metrics\":{\"numStarts\":\"1\"},\"dimensions\":{}}\n");
}

TEST(AnalyticsRequestsTest, ErrorRecordCarriesItsTextOnlyWhenThereIsOne) {
  ErrorAnalyticsRequest withText("p", "k", "1.0", "numFatalErrors", "error|2|libcurl/x");
  EXPECT_EQ(Body(withText),
            "{\"pid\":\"p\",\"pkgid\":\"k\",\"vid\":\"1.0\","
            "\"metrics\":{\"numFatalErrors\":\"1\"},"
            "\"dimensions\":{\"error\":\"error|2|libcurl\\/x\"}}\n");
  ErrorAnalyticsRequest empty("p", "k", "1.0", "numRetryableErrors", "");
  EXPECT_EQ(Body(empty),
            "{\"pid\":\"p\",\"pkgid\":\"k\",\"vid\":\"1.0\","
            "\"metrics\":{\"numRetryableErrors\":\"1\"},\"dimensions\":{}}\n");
}

TEST(AnalyticsRequestsTest, NodeRecordWritesSecondsAndKeepsDottedHostsAsOneKey) {
  OptimizerAnalyticsRequest request("p", "k", "v", 1048576, 1500, "cdn1.example.net");
  EXPECT_EQ(Body(request),
            "{\"pid\":\"p\",\"pkgid\":\"k\",\"vid\":\"v\","
            "\"metrics\":{\"bytes\":\"1048576\",\"requestTime\":\"1.5\"},"
            "\"dimensions\":{\"cdn\":\"cdn1.example.net\"}}\n");
  OptimizerAnalyticsRequest idle("p", "k", "v", 0, 0, "h");
  EXPECT_EQ(
      Body(idle),
      "{\"pid\":\"p\",\"pkgid\":\"k\",\"vid\":\"v\","
      "\"metrics\":{\"bytes\":\"0\",\"requestTime\":\"0\"},\"dimensions\":{\"cdn\":\"h\"}}\n");

  // A counter key with a dot stays one key, too.
  SimpleEventAnalyticsRequest dotted("p", "k", "v", "a.b");
  EXPECT_NE(Body(dotted).find("{\"a.b\":\"1\"}"), std::string::npos);
}

TEST(AnalyticsRequestsTest, TransferRecordStatusTextsAndDuration) {
  TransferAnalyticsRequest suspended("p", "k", "v", "t-1", 6, 18446744073709551615ull, 1500);
  EXPECT_EQ(Body(suspended),
            "{\"pid\":\"p\",\"pkgid\":\"k\",\"vid\":\"v\",\"tid\":\"t-1\",\"status\":\"suspended\","
            "\"transferBytes\":\"18446744073709551615\",\"duration\":\"1.5\"}\n");

  const struct {
    std::uint8_t state;
    const char* text;
  } rows[] = {{0, "active"},   {1, "active"}, {2, "active"},    {3, "active"},
              {4, "active"},   {5, "active"}, {6, "suspended"}, {7, "completed"},
              {8, "canceled"}, {9, "active"}, {255, "active"}};
  for (const auto& row : rows) {
    EXPECT_STREQ(AnalyticsStatusText(row.state), row.text) << int(row.state);
  }
}

TEST(AnalyticsRequestsTest, SecondsFromMilliseconds) {
  EXPECT_EQ(AnalyticsSeconds(0), "0");
  EXPECT_EQ(AnalyticsSeconds(1500), "1.5");
  EXPECT_EQ(AnalyticsSeconds(1), "0.001");
  EXPECT_EQ(AnalyticsSeconds(300000), "300");
  EXPECT_EQ(AnalyticsSeconds(1234567), "1234.567");
}

TEST(AnalyticsRequestsTest, ARecordWithNodesIsAnArrayOfObjects) {
  ptree tree;
  SimpleEventAnalyticsRequest end("p", "k", "v", "numCompletes");
  OptimizerAnalyticsRequest node("p", "k", "v", 10, 2000, "n1");
  end.Write(tree.push_back({"", ptree()})->second);
  node.Write(tree.push_back({"", ptree()})->second);
  EXPECT_EQ(ToJson(tree),
            "[{\"pid\":\"p\",\"pkgid\":\"k\",\"vid\":\"v\",\"metrics\":{\"numCompletes\":\"1\"},"
            "\"dimensions\":{}},"
            "{\"pid\":\"p\",\"pkgid\":\"k\",\"vid\":\"v\",\"metrics\":{\"bytes\":\"10\","
            "\"requestTime\":\"2\"},\"dimensions\":{\"cdn\":\"n1\"}}]\n");
  EXPECT_EQ(ToJson(ptree()), "[]\n") << "a periodic record without a node list";
}

}  // namespace
}  // namespace velmo
