// How the optimizer spreads a transfer's chunks over nodes, with simulated
// nodes and a simulated clock (NodeSimulation): who wins the draws, not how
// long anything takes on this machine.
#include <gtest/gtest.h>

#include <numeric>

#include "NodeSimulation.h"

namespace velmo {
namespace {

constexpr double kMiB = 1048576.0;
constexpr std::uint64_t kChunk = 1048576;

double Share(const SimulationResult& result, std::size_t node) {
  const double total = std::accumulate(result.bytes.begin(), result.bytes.end(), 0.0);
  return static_cast<double>(result.bytes[node]) / total;
}

double FirstShare(const SimulationResult& result, std::uint32_t node) {
  const auto n = std::count(result.firstRequests.begin(), result.firstRequests.end(), node);
  return static_cast<double>(n) / static_cast<double>(result.firstRequests.size());
}

TEST(NodeAllocationTest, CorruptNodeLosesTheFirstRequests) {
  for (const std::uint32_t seed : {1u, 2u, 3u}) {
    for (const std::uint32_t slots : {4u, 10u}) {
      NodeSimulation simulation({{"bad", 32 * kMiB, 0, true, false},
                                 {"good1", 8 * kMiB, 0, false, false},
                                 {"good2", 8 * kMiB, 0, false, false}},
                                slots, kChunk, seed);
      const auto result = simulation.Run(1000, 100);
      ASSERT_EQ(result.firstRequests.size(), 900u);
      EXPECT_LE(FirstShare(result, 0), 0.10) << "seed " << seed << ", " << slots << " slots";
      // Each bad chunk costs one chunk more, no retry storm.
      EXPECT_EQ(result.fetchedAgain, result.bytes[0]);
      EXPECT_EQ(result.inFlightAfter, 0u);
    }
  }
}

TEST(NodeAllocationTest, WithoutBlameTheCorruptNodeWouldWin) {
  // The check above can fail: a success left standing keeps the bad node the
  // fastest, and it takes most first requests.
  NodeSimulation simulation({{"bad", 32 * kMiB, 0, true, false},
                             {"good1", 8 * kMiB, 0, false, false},
                             {"good2", 8 * kMiB, 0, false, false}},
                            10, kChunk, 1);
  simulation.SetBlame(false);
  const auto result = simulation.Run(1000, 100);
  EXPECT_GT(FirstShare(result, 0), 0.5);
}

TEST(NodeAllocationTest, CappedNodesServeInProportionToCapacity) {
  // Each node's cap is shared by all its connections: 2, 8 and 32 MiB/s.
  for (const std::uint32_t seed : {1u, 2u, 3u}) {
    for (const std::uint32_t slots : {4u, 6u, 10u}) {
      NodeSimulation simulation({{"slow", 2 * kMiB, 0, false, false},
                                 {"mid", 8 * kMiB, 0, false, false},
                                 {"fast", 32 * kMiB, 0, false, false}},
                                slots, kChunk, seed);
      const auto result = simulation.Run(256);
      const std::string where =
          "seed " + std::to_string(seed) + ", " + std::to_string(slots) + " slots";
      EXPECT_NEAR(Share(result, 0), 2.0 / 42, 0.02) << where;
      EXPECT_NEAR(Share(result, 1), 8.0 / 42, 0.04) << where;
      EXPECT_NEAR(Share(result, 2), 32.0 / 42, 0.05) << where;
      EXPECT_EQ(result.inFlightAfter, 0u);
    }
  }
}

TEST(NodeAllocationTest, EqualNodesShareEvenly) {
  NodeSimulation simulation({{"a", 40 * kMiB, 0, false, false},
                             {"b", 40 * kMiB, 0, false, false},
                             {"c", 40 * kMiB, 0, false, false}},
                            6, kChunk, 5);
  const auto result = simulation.Run(600);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_NEAR(Share(result, i), 1.0 / 3, 0.06) << i;
}

TEST(NodeAllocationTest, NodesLimitedPerRequestGetMoreRequests) {
  // Node a delivers 4 MiB/s per request up to 64 MiB/s in all; node b has one
  // 8 MiB/s pipe. More requests on a deliver more, and a takes most bytes.
  NodeSimulation simulation(
      {{"a", 64 * kMiB, 4 * kMiB, false, false}, {"b", 8 * kMiB, 0, false, false}}, 8, kChunk, 7);
  const auto result = simulation.Run(400);
  EXPECT_GT(Share(result, 0), 0.6);
  EXPECT_GT(Share(result, 1), 0.1);
}

TEST(NodeAllocationTest, RefusingNodeIsTriedThenLeftAlone) {
  NodeSimulation simulation({{"dead", 32 * kMiB, 0, false, true},
                             {"a", 16 * kMiB, 0, false, false},
                             {"b", 16 * kMiB, 0, false, false}},
                            6, kChunk, 3);
  const auto result = simulation.Run(300, 20);
  EXPECT_LE(FirstShare(result, 0), 0.03);
  EXPECT_EQ(result.bytes[0], 0u);
  EXPECT_EQ(result.inFlightAfter, 0u);
}

}  // namespace
}  // namespace velmo
