#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <map>
#include <thread>

#include "velmo/manifest/StandardNodeManifest.h"
#include "velmo/optimizer/NodeStatistics.h"
#include "velmo/optimizer/ProportionalGamblingTransferOptimizer.h"

namespace velmo {
namespace {

constexpr std::uint64_t kMiB = 1048576;

// Counts the outputs it hands out, so tests can check how much a decision drew.
class CountingEngine : public RandomEngine {
 public:
  explicit CountingEngine(std::uint32_t seed, std::atomic<std::uint64_t>* draws)
      : engine_(seed), draws_(draws) {}
  std::uint32_t Next() override {
    ++*draws_;
    return engine_.Next();
  }

 private:
  MersenneTwisterRandomEngine engine_;
  std::atomic<std::uint64_t>* draws_;
};

// Opens the sampling step to the tests.
class TestOptimizer : public ProportionalGamblingTransferOptimizer {
 public:
  using ProportionalGamblingTransferOptimizer::EstimateWinProbabilities;
  using ProportionalGamblingTransferOptimizer::ProportionalGamblingTransferOptimizer;
};

EngineSettings Settings() {
  EngineSettings settings(8);
  settings.transferThreadCount = 10;
  return settings;
}

std::shared_ptr<NodeManifest> MakeNode(const std::string& id, const std::string& host,
                                       int weight = 1) {
  boost::property_tree::ptree tree;
  tree.put("NodeId", id);
  tree.put("Host", host);
  tree.put("Weight", weight);
  return std::make_shared<StandardNodeManifest>(tree);
}

OptimizedRequestParams Params(std::vector<std::shared_ptr<NodeManifest>> nodes,
                              std::uint64_t chunkSize = kMiB) {
  OptimizedRequestParams params;
  params.candidates = std::move(nodes);
  params.ChunkData = std::make_shared<ChunkBounds>();
  params.ChunkData->lowerBound = 3 * chunkSize;
  params.ChunkData->upperBound = 4 * chunkSize - 1;
  return params;
}

HttpRequestStatus Status(HttpRequestResult result, std::uint64_t bytes = kMiB) {
  return HttpRequestStatus(result, bytes);
}

// Gives every node of the list `samples` speed samples of the given speed.
void Feed(TransferOptimizer& optimizer, const std::vector<std::shared_ptr<NodeManifest>>& nodes,
          int samples, std::uint64_t bytesPerSecond) {
  for (const auto& node : nodes) {
    auto params = Params({node});
    params.SelectedNode = node;
    for (int i = 0; i < samples; ++i) {
      optimizer.ReportResult(params,
                             bytesPerSecond == 0
                                 ? Status(HttpRequestResult::Timeout, 0)
                                 : Status(HttpRequestResult::Success, bytesPerSecond),
                             1000);
    }
  }
}

TEST(TransferOptimizerTest, EmptyCandidateListIsRefused) {
  ProportionalGamblingTransferOptimizer optimizer(Settings());
  auto params = Params({});
  try {
    optimizer.GetNode(params);
    FAIL() << "no exception";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "TransferOptimizer::GetNode received empty nodelist");
  }
  params = Params({MakeNode("a", "a")});
  params.ChunkData.reset();
  EXPECT_THROW(optimizer.GetNode(params), std::invalid_argument);
}

TEST(TransferOptimizerTest, SingleNodeGetsTheNormalLimitsWithoutExploring) {
  ProportionalGamblingTransferOptimizer optimizer(Settings(),
                                                  std::make_unique<MersenneTwisterRandomEngine>(1));
  const auto node = MakeNode("a", "a");
  for (int i = 0; i < 3; ++i) {
    auto params = Params({node});
    optimizer.GetNode(params);
    EXPECT_EQ(params.SelectedNode, node);
    EXPECT_FALSE(params.exploring);
    EXPECT_FALSE(params.freeRetry);
    EXPECT_TRUE(params.limitsCanGrow);
    EXPECT_EQ(params.connectTimeout, 3);
    EXPECT_EQ(params.lowSpeedTime, 5);
    EXPECT_EQ(params.timeout, 1462);  // 1 MiB * 10 threads / 7168 B/s
    EXPECT_EQ(params.lowSpeedLimit, 716);
  }
  // A small chunk is held to the floor.
  auto small = Params({node}, 1000);
  optimizer.GetNode(small);
  EXPECT_EQ(small.timeout, 10);
}

TEST(TransferOptimizerTest, ExploringRequestsGetTheExploringLimits) {
  ProportionalGamblingTransferOptimizer optimizer(Settings(),
                                                  std::make_unique<MersenneTwisterRandomEngine>(1));
  auto params = Params({MakeNode("a", "a"), MakeNode("b", "b")});
  optimizer.GetNode(params);
  EXPECT_TRUE(params.exploring);
  EXPECT_TRUE(params.freeRetry);
  EXPECT_FALSE(params.limitsCanGrow);
  EXPECT_EQ(params.connectTimeout, 2);
  EXPECT_EQ(params.timeout, 320);
  EXPECT_EQ(params.lowSpeedLimit, 3276);
  EXPECT_EQ(params.lowSpeedTime, 3);
}

TEST(TransferOptimizerTest, HugeChunksDoNotOverflowTheTimeout) {
  ProportionalGamblingTransferOptimizer optimizer(Settings(),
                                                  std::make_unique<MersenneTwisterRandomEngine>(1));
  auto params = Params({MakeNode("a", "a")}, 4294967295u);
  optimizer.GetNode(params);
  EXPECT_EQ(params.timeout, static_cast<std::int32_t>(4294967295ull * 10 / 7168));
}

TEST(TransferOptimizerTest, EveryNodeIsExploredTwiceBeforeSampling) {
  ProportionalGamblingTransferOptimizer optimizer(Settings(),
                                                  std::make_unique<MersenneTwisterRandomEngine>(7));
  const std::vector<std::shared_ptr<NodeManifest>> nodes = {MakeNode("a", "a"), MakeNode("b", "b"),
                                                            MakeNode("c", "c")};
  // How many of the six exploring requests went to each node (a count of
  // draws; no time is measured here).
  std::map<std::shared_ptr<NodeManifest>, int> explorationsOf;
  for (int request = 0; request < 6; ++request) {
    auto params = Params(nodes);
    optimizer.GetNode(params);
    ASSERT_TRUE(params.exploring) << request;
    const int explorations = ++explorationsOf[params.SelectedNode];
    EXPECT_LE(explorations, 2) << "a node explored a third time while another is untried";
    optimizer.ReportResult(params, Status(HttpRequestResult::Success), 100);
  }
  EXPECT_EQ(explorationsOf.size(), 3u);
  auto params = Params(nodes);
  optimizer.GetNode(params);
  EXPECT_FALSE(params.exploring);
}

TEST(TransferOptimizerTest, ExplorationPicksUniformlyAmongIdleUnexploredNodes) {
  const std::vector<std::shared_ptr<NodeManifest>> nodes = {MakeNode("a", "a"), MakeNode("b", "b"),
                                                            MakeNode("c", "c")};
  ProportionalGamblingTransferOptimizer optimizer(Settings(),
                                                  std::make_unique<MersenneTwisterRandomEngine>(3));
  Feed(optimizer, {nodes[1]}, 2, 1000);
  std::map<std::string, int> picks;
  for (int i = 0; i < 2000; ++i) {
    auto params = Params(nodes);
    optimizer.GetNode(params);
    EXPECT_TRUE(params.exploring);
    ++picks[params.SelectedNode->GetNodeId()];
    optimizer.ReleaseNode(params);  // cancelled: no sample, nothing in flight
  }
  EXPECT_EQ(picks.count("b"), 0u);
  EXPECT_NEAR(picks["a"], 1000, 150);
  EXPECT_NEAR(picks["c"], 1000, 150);
}

TEST(TransferOptimizerTest, EveryNodeIsTriedAtOnce) {
  // Nothing reported yet: the first three requests go to three nodes, and
  // the next ones spread evenly, never a second one while a node has fewer.
  for (const std::uint32_t seed : {1u, 2u, 3u, 4u}) {
    ProportionalGamblingTransferOptimizer optimizer(
        Settings(), std::make_unique<MersenneTwisterRandomEngine>(seed));
    const std::vector<std::shared_ptr<NodeManifest>> nodes = {
        MakeNode("a", "a"), MakeNode("b", "b"), MakeNode("c", "c")};
    std::vector<OptimizedRequestParams> requests;
    for (int i = 0; i < 8; ++i) {
      requests.push_back(Params(nodes));
      optimizer.GetNode(requests.back());
      EXPECT_TRUE(requests.back().exploring);
      std::uint32_t least = 1000, most = 0;
      for (const auto& node : nodes) {
        least = std::min(least, optimizer.GetInFlight(*node));
        most = std::max(most, optimizer.GetInFlight(*node));
      }
      EXPECT_LE(most - least, 1u) << "request " << i << ", seed " << seed;
    }
    for (const auto& request : requests) optimizer.ReleaseNode(request);
    for (const auto& node : nodes) EXPECT_EQ(optimizer.GetInFlight(*node), 0u);
  }
}

TEST(TransferOptimizerTest, IdleUnexploredNodesComeBeforeBusyOnes) {
  ProportionalGamblingTransferOptimizer optimizer(Settings(),
                                                  std::make_unique<MersenneTwisterRandomEngine>(5));
  const auto a = MakeNode("a", "a");
  const auto b = MakeNode("b", "b");
  const auto c = MakeNode("c", "c");
  const std::vector<std::shared_ptr<NodeManifest>> nodes = {a, b, c};
  Feed(optimizer, {b}, 2, 1000);
  auto first = Params(nodes);
  auto second = Params(nodes);
  optimizer.GetNode(first);
  optimizer.GetNode(second);
  EXPECT_NE(first.SelectedNode, b);
  EXPECT_NE(second.SelectedNode, b);
  EXPECT_NE(first.SelectedNode, second.SelectedNode);
  // a and c are being explored: the explored node is drawn, not explored.
  auto third = Params(nodes);
  optimizer.GetNode(third);
  EXPECT_EQ(third.SelectedNode, b);
  EXPECT_FALSE(third.exploring);
  // One sample back: that node is idle and still unexplored, so it is next.
  optimizer.ReportResult(first, Status(HttpRequestResult::Success), 100);
  auto fourth = Params(nodes);
  optimizer.GetNode(fourth);
  EXPECT_EQ(fourth.SelectedNode, first.SelectedNode);
  EXPECT_TRUE(fourth.exploring);
}

TEST(TransferOptimizerTest, RequestsInFlightEndOnEveryPath) {
  std::uint64_t now = 0;
  ProportionalGamblingTransferOptimizer optimizer(
      Settings(), std::make_unique<MersenneTwisterRandomEngine>(1), [&] { return now; });
  const auto a = MakeNode("a", "a");
  auto params = Params({a});
  optimizer.GetNode(params);
  EXPECT_NE(params.lease, 0u);
  EXPECT_EQ(optimizer.GetInFlight(*a), 1u);
  optimizer.ReportResult(params, Status(HttpRequestResult::Success), 10);
  EXPECT_EQ(optimizer.GetInFlight(*a), 0u);
  optimizer.ReleaseNode(params);  // a second ending finds nothing
  optimizer.ReportResult(params, Status(HttpRequestResult::Success), 10);
  EXPECT_EQ(optimizer.GetInFlight(*a), 0u);

  // Cancelled: released without a sample.
  const std::uint32_t samples = optimizer.GetStatistics(*a)->GetRequests();
  optimizer.GetNode(params);
  optimizer.ReleaseNode(params);
  EXPECT_EQ(optimizer.GetInFlight(*a), 0u);
  EXPECT_EQ(optimizer.GetStatistics(*a)->GetRequests(), samples);

  // Params copied for a second request of the same chunk: both count, and
  // each ends its own.
  optimizer.GetNode(params);
  auto copy = params;
  optimizer.GetNode(copy);
  EXPECT_NE(copy.lease, params.lease);
  EXPECT_EQ(optimizer.GetInFlight(*a), 2u);
  optimizer.ReleaseNode(copy);
  EXPECT_EQ(optimizer.GetInFlight(*a), 1u);

  // Never ended at all: dropped once past its own limits (connect timeout
  // 3 s + timeout 1462 s + a minute), not before.
  auto other = Params({a});
  now += (3 + 1462 + 60) * 1000;
  optimizer.GetNode(other);
  EXPECT_EQ(optimizer.GetInFlight(*a), 2u);
  now += 1;
  auto third = Params({a});
  optimizer.GetNode(third);
  EXPECT_EQ(optimizer.GetInFlight(*a), 2u);  // params dropped, third counted
  optimizer.ReleaseNode(params);
  optimizer.ReleaseNode(other);
  optimizer.ReleaseNode(third);
  EXPECT_EQ(optimizer.GetInFlight(*a), 0u);
}

TEST(TransferOptimizerTest, SpeedIsTheHostThroughputAcrossItsRequests) {
  // Four requests share node a for 4 s, 4 MB each: 1 MB/s per request, the
  // node delivers 4 MB/s, and that is what its model learns.
  std::uint64_t now = 0;
  ProportionalGamblingTransferOptimizer optimizer(
      Settings(), std::make_unique<MersenneTwisterRandomEngine>(1), [&] { return now; });
  const auto a = MakeNode("a", "a");
  std::vector<OptimizedRequestParams> requests(4, Params({a}));
  for (auto& request : requests) optimizer.GetNode(request);
  now = 4000;
  for (auto& request : requests) {
    optimizer.ReportResult(request, Status(HttpRequestResult::Success, 4000000), 4000);
  }
  const auto statistics =
      std::dynamic_pointer_cast<ExponentialNormalNodeStatistics>(optimizer.GetStatistics(*a));
  ASSERT_TRUE(statistics);
  EXPECT_NEAR(statistics->GetDistribution().first, 4e6 * (1 - std::pow(0.7, 4)), 1e-3);

  // A report without a counted request (no GetNode) is taken as alone on
  // its node: its own speed.
  const auto b = MakeNode("b", "b");
  Feed(optimizer, {b}, 1, 1000000);
  const auto alone =
      std::dynamic_pointer_cast<ExponentialNormalNodeStatistics>(optimizer.GetStatistics(*b));
  EXPECT_NEAR(alone->GetDistribution().first, 0.3 * 1000000, 1e-6);
}

TEST(TransferOptimizerTest, BusyNodesShareTheirSpeedWithOneMoreRequest) {
  TestOptimizer optimizer(Settings(), std::make_unique<MersenneTwisterRandomEngine>(13));
  const auto a = MakeNode("a", "a");
  const auto b = MakeNode("b", "b");
  Feed(optimizer, {a, b}, 6, 8000000);
  const auto even = optimizer.EstimateWinProbabilities({a, b});
  EXPECT_NEAR(even[0], 0.5, 0.15);
  // Three requests on a: one more would get a quarter of its 8 MB/s, b's
  // whole 8 MB/s goes to one more request there.
  std::vector<OptimizedRequestParams> busy(3, Params({a}));
  for (auto& request : busy) optimizer.GetNode(request);
  const auto loaded = optimizer.EstimateWinProbabilities({a, b});
  EXPECT_GT(loaded[1], 0.9);
}

TEST(TransferOptimizerTest, IdleNodesThatDeliverAreKeptBusy) {
  std::uint64_t now = 0;
  ProportionalGamblingTransferOptimizer optimizer(
      Settings(), std::make_unique<MersenneTwisterRandomEngine>(17), [&] { return now; });
  const auto fast = MakeNode("fast", "fast");
  const auto slow = MakeNode("slow", "slow");
  const std::vector<std::shared_ptr<NodeManifest>> nodes = {fast, slow};
  Feed(optimizer, {fast}, 8, 32000000);
  Feed(optimizer, {slow}, 8, 2000000);
  // With fast busy, slow (1/16 of its speed) is idle and gets the request
  // although the draw would give it to fast.
  auto onFast = Params({fast});
  optimizer.GetNode(onFast);
  for (int i = 0; i < 20; ++i) {
    auto params = Params(nodes);
    optimizer.GetNode(params);
    EXPECT_EQ(params.SelectedNode, slow);
    EXPECT_FALSE(params.exploring);
    optimizer.ReleaseNode(params);
  }
  // Once slow is busy too, the draw decides: fast with one request still
  // offers more than slow with one.
  auto onSlow = Params({slow});
  optimizer.GetNode(onSlow);
  int fastWins = 0;
  for (int i = 0; i < 100; ++i) {
    auto params = Params(nodes);
    optimizer.GetNode(params);
    fastWins += params.SelectedNode == fast;
    optimizer.ReleaseNode(params);
  }
  EXPECT_GT(fastWins, 90);
  optimizer.ReleaseNode(onSlow);

  // A slow node whose last request failed is not preferred while idle.
  optimizer.ReportResult(onSlow, Status(HttpRequestResult::Timeout, 0), 100);
  fastWins = 0;
  for (int i = 0; i < 100; ++i) {
    auto params = Params(nodes);
    optimizer.GetNode(params);
    fastWins += params.SelectedNode == fast;
    optimizer.ReleaseNode(params);
  }
  EXPECT_GT(fastWins, 90);

  // Nor one below 1/32 of the best node.
  const auto crawl = MakeNode("crawl", "crawl");
  Feed(optimizer, {crawl}, 8, 500000);
  fastWins = 0;
  for (int i = 0; i < 100; ++i) {
    auto params = Params({fast, crawl});
    optimizer.GetNode(params);
    fastWins += params.SelectedNode == fast;
    optimizer.ReleaseNode(params);
  }
  EXPECT_GT(fastWins, 90);
}

TEST(TransferOptimizerTest, ChecksumFailureTurnsTheSuccessIntoAFailure) {
  ProportionalGamblingTransferOptimizer optimizer(Settings(),
                                                  std::make_unique<MersenneTwisterRandomEngine>(1));
  ProportionalGamblingTransferOptimizer reference(Settings(),
                                                  std::make_unique<MersenneTwisterRandomEngine>(1));
  const auto a = MakeNode("a", "a");
  Feed(optimizer, {a}, 3, 4000000);
  Feed(reference, {a}, 3, 4000000);
  auto params = Params({a});
  optimizer.GetNode(params);
  optimizer.ReportResult(params, Status(HttpRequestResult::Success, kMiB), 100);
  Feed(optimizer, {a}, 1, 4000000);  // another request of the node ends first
  optimizer.ReportChecksumFailure(params, kMiB, 100);
  Feed(reference, {a}, 1, 0);
  Feed(reference, {a}, 1, 4000000);

  const auto statistics =
      std::dynamic_pointer_cast<ExponentialNormalNodeStatistics>(optimizer.GetStatistics(*a));
  const auto expected =
      std::dynamic_pointer_cast<ExponentialNormalNodeStatistics>(reference.GetStatistics(*a));
  EXPECT_DOUBLE_EQ(statistics->GetDistribution().first, expected->GetDistribution().first);
  EXPECT_DOUBLE_EQ(statistics->GetDistribution().second, expected->GetDistribution().second);
  EXPECT_EQ(statistics->GetRequests(), 4u);
  EXPECT_EQ(statistics->GetErrors(), 1u);
  EXPECT_EQ(statistics->GetSuccessBytes(), 4u * 4000000);
  EXPECT_EQ(statistics->GetBytes(), 4u * 4000000 + kMiB);

  // The same chunk reported twice counts once.
  optimizer.ReportChecksumFailure(params, kMiB, 100);
  EXPECT_EQ(statistics->GetErrors(), 1u);
  EXPECT_DOUBLE_EQ(statistics->GetDistribution().first, expected->GetDistribution().first);

  // A request the optimizer never counted: its node takes a new failure.
  const auto b = MakeNode("b", "b");
  Feed(optimizer, {b}, 2, 1000);
  auto unknown = Params({b});
  unknown.SelectedNode = b;
  optimizer.ReportChecksumFailure(unknown, 1000, 1);
  const auto other =
      std::dynamic_pointer_cast<ExponentialNormalNodeStatistics>(optimizer.GetStatistics(*b));
  EXPECT_EQ(other->GetCount(), 3u);
  EXPECT_TRUE(other->LastFailed());
  EXPECT_EQ(other->GetErrors(), 1u);
  EXPECT_EQ(other->GetRequests(), 1u);
}

TEST(TransferOptimizerTest, SamplingDrawsTrialsPerNodeBoundedByMaxTrials) {
  struct Case {
    std::uint32_t n;
    std::uint64_t trials;
  };
  // 50 per node, at most 10000 samples (n per trial), never fewer than 10:
  // past 10000 nodes the draw still samples rather than go by weight alone.
  for (const auto [n, trials] : {Case{2, 100}, Case{3, 150}, Case{14, 700}, Case{15, 666},
                                 Case{40, 250}, Case{2000, 10}, Case{20000, 10}}) {
    std::atomic<std::uint64_t> draws{0};
    ProportionalGamblingTransferOptimizer optimizer(Settings(),
                                                    std::make_unique<CountingEngine>(n, &draws));
    std::vector<std::shared_ptr<NodeManifest>> nodes;
    for (std::uint32_t i = 0; i < n; ++i) {
      nodes.push_back(MakeNode("n" + std::to_string(i), "h" + std::to_string(i)));
    }
    Feed(optimizer, nodes, 2, 5000);
    draws = 0;
    auto params = Params(nodes);
    optimizer.GetNode(params);
    // Each node draws a pair of uniforms per two samples; then one double and
    // one index for the draw (the index may be redrawn, very rarely).
    const std::uint64_t expected = n * (trials + trials % 2) + 2;
    EXPECT_GE(draws.load(), expected) << n;
    EXPECT_LE(draws.load(), expected + 2) << n;
  }
}

TEST(TransferOptimizerTest, TiesGoToTheEarlierNode) {
  TestOptimizer optimizer(Settings(), std::make_unique<MersenneTwisterRandomEngine>(5));
  const std::vector<std::shared_ptr<NodeManifest>> nodes = {MakeNode("a", "a"), MakeNode("b", "b"),
                                                            MakeNode("c", "c")};
  // Failures only: mean and variance stay 0, every sample is 0.
  Feed(optimizer, nodes, 2, 0);
  const auto probabilities = optimizer.EstimateWinProbabilities(nodes);
  ASSERT_EQ(probabilities.size(), 3u);
  EXPECT_DOUBLE_EQ(probabilities[0], 151.0 / 153.0);
  EXPECT_DOUBLE_EQ(probabilities[1], 1.0 / 153.0);
  EXPECT_DOUBLE_EQ(probabilities[2], 1.0 / 153.0);
}

TEST(TransferOptimizerTest, FasterNodesWinMoreTrials) {
  TestOptimizer optimizer(Settings(), std::make_unique<MersenneTwisterRandomEngine>(9));
  const std::vector<std::shared_ptr<NodeManifest>> nodes = {MakeNode("slow", "slow"),
                                                            MakeNode("fast", "fast")};
  Feed(optimizer, {nodes[0]}, 4, 1000);
  Feed(optimizer, {nodes[1]}, 4, 1000000);
  const auto probabilities = optimizer.EstimateWinProbabilities(nodes);
  EXPECT_GT(probabilities[1], 0.9);
  EXPECT_NEAR(probabilities[0] + probabilities[1], 1.0, 1e-12);
}

TEST(TransferOptimizerTest, WeightsScaleTheProbabilities) {
  TestOptimizer optimizer(Settings(), std::make_unique<MersenneTwisterRandomEngine>(11));
  const std::vector<std::shared_ptr<NodeManifest>> nodes = {
      MakeNode("a", "a", 0), MakeNode("b", "b", 1), MakeNode("c", "c", 3)};
  Feed(optimizer, nodes, 2, 0);
  // Unweighted: 151/153, 1/153, 1/153; weighted by 0, 1, 3.
  const auto probabilities = optimizer.EstimateWinProbabilities(nodes);
  EXPECT_DOUBLE_EQ(probabilities[0], 0.0);
  EXPECT_DOUBLE_EQ(probabilities[1], 0.25);
  EXPECT_DOUBLE_EQ(probabilities[2], 0.75);
  for (int i = 0; i < 300; ++i) {
    auto params = Params(nodes);
    optimizer.GetNode(params);
    EXPECT_NE(params.SelectedNode, nodes[0]);
  }

  const std::vector<std::shared_ptr<NodeManifest>> unweighted = {MakeNode("a", "a", 0),
                                                                 MakeNode("b", "b", 0)};
  const auto ignored = optimizer.EstimateWinProbabilities(unweighted);
  EXPECT_DOUBLE_EQ(ignored[0], 101.0 / 102.0);
}

TEST(TransferOptimizerTest, AdaptiveLimitsFollowSuccessesAndTimeouts) {
  ProportionalGamblingTransferOptimizer optimizer(Settings(),
                                                  std::make_unique<MersenneTwisterRandomEngine>(1));
  auto params = Params({MakeNode("a", "a")});
  optimizer.GetNode(params);
  const auto report = [&](HttpRequestResult result) {
    optimizer.ReportResult(params, Status(result), 10);
  };
  report(HttpRequestResult::Success);
  EXPECT_EQ(optimizer.GetAdaptiveConnectTimeout(), 3);
  EXPECT_EQ(optimizer.GetAdaptiveLowSpeedTime(), 5);
  report(HttpRequestResult::Timeout);
  EXPECT_EQ(optimizer.GetAdaptiveConnectTimeout(), 6);
  EXPECT_EQ(optimizer.GetAdaptiveLowSpeedTime(), 10);
  report(HttpRequestResult::Timeout);
  report(HttpRequestResult::Timeout);
  EXPECT_EQ(optimizer.GetAdaptiveConnectTimeout(), 15);
  EXPECT_EQ(optimizer.GetAdaptiveLowSpeedTime(), 40);
  report(HttpRequestResult::ConnectFailed);
  report(HttpRequestResult::ServerError);
  EXPECT_EQ(optimizer.GetAdaptiveConnectTimeout(), 15);
  report(HttpRequestResult::Timeout);
  EXPECT_EQ(optimizer.GetAdaptiveLowSpeedTime(), 60);
  optimizer.GetNode(params);
  EXPECT_FALSE(params.limitsCanGrow);
  EXPECT_EQ(params.connectTimeout, 15);
  EXPECT_EQ(params.lowSpeedTime, 60);
  report(HttpRequestResult::Success);
  EXPECT_EQ(optimizer.GetAdaptiveConnectTimeout(), 14);
  EXPECT_EQ(optimizer.GetAdaptiveLowSpeedTime(), 59);
}

TEST(TransferOptimizerTest, ExploringReportsOnlyUpdateStatistics) {
  ProportionalGamblingTransferOptimizer optimizer(Settings(),
                                                  std::make_unique<MersenneTwisterRandomEngine>(1));
  const auto node = MakeNode("a", "a");
  auto params = Params({node, MakeNode("b", "b")});
  optimizer.GetNode(params);
  ASSERT_TRUE(params.exploring);
  optimizer.ReportResult(params, Status(HttpRequestResult::Timeout, 10), 10);
  EXPECT_EQ(optimizer.GetAdaptiveConnectTimeout(), 3);
  EXPECT_EQ(optimizer.GetAdaptiveLowSpeedTime(), 5);
  const auto statistics = optimizer.GetStatistics(*params.SelectedNode);
  EXPECT_EQ(statistics->GetErrors(), 1u);
  EXPECT_EQ(statistics->GetBytes(), 10u);
}

TEST(TransferOptimizerTest, StatisticsArePerHostAndFailuresAreClassified) {
  ProportionalGamblingTransferOptimizer optimizer(Settings(),
                                                  std::make_unique<MersenneTwisterRandomEngine>(1));
  const auto a = MakeNode("a", "shared.example");
  const auto b = MakeNode("b", "shared.example");
  const auto c = MakeNode("c", "other.example");
  EXPECT_EQ(optimizer.GetStatistics(*a), optimizer.GetStatistics(*b));
  EXPECT_NE(optimizer.GetStatistics(*a), optimizer.GetStatistics(*c));
  EXPECT_NE(optimizer.GetStatistics(*a), a->GetStatistics());

  auto params = Params({a});
  params.SelectedNode = b;
  for (auto result :
       {HttpRequestResult::Success, HttpRequestResult::Canceled, HttpRequestResult::NotStarted,
        HttpRequestResult::RangeError, HttpRequestResult::UnknownError}) {
    optimizer.ReportResult(params, Status(result, 1), 1);
  }
  const auto statistics = optimizer.GetStatistics(*a);
  EXPECT_EQ(statistics->GetRequests(), 3u);
  EXPECT_EQ(statistics->GetErrors(), 2u);
  // The node's own counters are the chunk work's to update.
  EXPECT_EQ(b->GetStatistics()->GetBytes(), 0u);
}

TEST(TransferOptimizerTest, SameSeedMakesTheSameChoices) {
  const std::vector<std::shared_ptr<NodeManifest>> nodes = {
      MakeNode("a", "a", 1), MakeNode("b", "b", 2), MakeNode("c", "c", 3)};
  std::vector<std::string> runs[2];
  for (auto& run : runs) {
    ProportionalGamblingTransferOptimizer optimizer(
        Settings(), std::make_unique<MersenneTwisterRandomEngine>(42));
    Feed(optimizer, nodes, 3, 2000);
    for (int i = 0; i < 50; ++i) {
      auto params = Params(nodes);
      optimizer.GetNode(params);
      run.push_back(params.SelectedNode->GetNodeId());
      optimizer.ReportResult(
          params, Status(HttpRequestResult::Success, 1000 + static_cast<std::uint64_t>(i) * 100),
          500);
    }
  }
  EXPECT_EQ(runs[0], runs[1]);
  EXPECT_EQ(runs[0].size(), 50u);
}

TEST(TransferOptimizerTest, ConcurrentDecisionsReportsAndLookups) {
  ProportionalGamblingTransferOptimizer optimizer(Settings(),
                                                  std::make_unique<MersenneTwisterRandomEngine>(1));
  std::vector<std::shared_ptr<NodeManifest>> nodes;
  for (int i = 0; i < 4; ++i)
    nodes.push_back(MakeNode("n" + std::to_string(i), "h" + std::to_string(i)));
  for (int threads : {1, 2, 4, 8}) {
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
      workers.emplace_back([&, t] {
        for (int i = 0; i < 100; ++i) {
          auto params = Params(nodes);
          optimizer.GetNode(params);
          optimizer.ReportResult(
              params, Status((i + t) % 4 ? HttpRequestResult::Success : HttpRequestResult::Timeout),
              50);
        }
      });
    }
    std::thread reporter([&] {
      for (int i = 0; i < 200; ++i) {
        boost::property_tree::ptree tree;
        const auto extra = MakeNode("x", "new-host-" + std::to_string(i));
        optimizer.GetStatistics(*extra)->Write(tree);
        optimizer.GetStatistics(*nodes[static_cast<std::size_t>(i % 4)])->Write(tree);
      }
    });
    for (auto& worker : workers) worker.join();
    reporter.join();
  }
  std::uint64_t total = 0;
  for (const auto& node : nodes) {
    const auto statistics = optimizer.GetStatistics(*node);
    total += statistics->GetRequests() + statistics->GetErrors();
  }
  EXPECT_EQ(total, 100u * (1 + 2 + 4 + 8));
}

}  // namespace
}  // namespace velmo
