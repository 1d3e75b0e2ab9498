#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "velmo/engine/TransferParams.h"

namespace velmo {
namespace {

std::vector<std::pair<std::string, std::string>> Keys(const boost::property_tree::ptree& tree) {
  std::vector<std::pair<std::string, std::string>> keys;
  for (const auto& [key, value] : tree) keys.emplace_back(key, value.data());
  return keys;
}

TEST(TransferParamsTest, DescribesFiveKeysInOrderButNotTheRestoredFlag) {
  TransferParams params;
  boost::property_tree::ptree tree;
  params.Describe(tree);
  using P = std::pair<std::string, std::string>;
  EXPECT_EQ(Keys(tree), (std::vector<P>{{"transferId", "?"},
                                        {"partnerId", "?"},
                                        {"packageId", "?"},
                                        {"versionId", "?"},
                                        {"destPath", "?"}}));
  params.restored = 1;
  params.destPath = "/home/u/a.b";  // dots in values are not paths
  TransferParams copy = params;
  EXPECT_EQ(copy.restored, 1);
  boost::property_tree::ptree copied;
  copy.Describe(copied);
  EXPECT_EQ(copied.size(), 5u);
  EXPECT_EQ(copied.get<std::string>("destPath"), "/home/u/a.b");
}

}  // namespace
}  // namespace velmo
