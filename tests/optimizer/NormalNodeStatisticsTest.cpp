#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "velmo/optimizer/ExponentialNormalNodeStatistics.h"
#include "velmo/optimizer/NormalNodeStatistics.h"

namespace velmo {
namespace {

TEST(NormalNodeStatisticsTest, WelfordMeanAndVariance) {
  NormalNodeStatistics statistics;
  EXPECT_EQ(statistics.GetDistribution(), std::make_pair(0.0, 1.0));
  statistics.Record(1000, 1000, false);  // 1000 B/s
  EXPECT_EQ(statistics.GetDistribution(), std::make_pair(1000.0, 1.0));
  statistics.Record(3000, 1000, false);  // 3000 B/s
  statistics.Record(2000, 0, false);     // 0 ms counts as 1: 2,000,000 B/s
  const auto [mean, variance] = statistics.GetDistribution();
  EXPECT_DOUBLE_EQ(mean, (1000.0 + 3000.0 + 2000000.0) / 3);
  const double m = mean;
  EXPECT_NEAR(variance,
              ((1000 - m) * (1000 - m) + (3000 - m) * (3000 - m) + (2e6 - m) * (2e6 - m)) / 2,
              1e-3);
  EXPECT_EQ(statistics.GetCount(), 3u);
}

TEST(NormalNodeStatisticsTest, FailureEntersAsSeveralZeroSamples) {
  NormalNodeStatistics statistics;
  for (int i = 0; i < 25; ++i) statistics.Record(1000, 1000, false);
  statistics.Record(1000, 1000, true);
  EXPECT_EQ(statistics.GetCount(), 28u);  // 25 / 10 + 1 = 3 samples of 0
  EXPECT_NEAR(statistics.GetDistribution().first, 25000.0 / 28, 1e-9);
  NormalNodeStatistics fresh;
  fresh.Record(0, 5, true);
  EXPECT_EQ(fresh.GetCount(), 1u);
  EXPECT_EQ(fresh.GetErrors(), 1u);
}

TEST(NormalNodeStatisticsTest, WriteReplacesSpeedWithTheModel) {
  NormalNodeStatistics statistics;
  statistics.Record(1000, 1000, false);
  statistics.Record(3000, 1000, false);
  boost::property_tree::ptree tree;
  statistics.Write(tree);
  EXPECT_EQ(tree.get<std::string>("Average Request Speed"), "2000");
  EXPECT_EQ(tree.get<std::string>("Standard Deviation"), "1414");  // sqrt(2,000,000)
  EXPECT_EQ(tree.get<std::string>("Requests"), "2");
  EXPECT_EQ(tree.count("Average Request Speed"), 1u);
}

TEST(ExponentialNormalNodeStatisticsTest, SmoothsMeanAndVariance) {
  ExponentialNormalNodeStatistics statistics(0.3);
  EXPECT_EQ(statistics.GetDistribution(), std::make_pair(0.0, 0.0));
  statistics.Record(1000, 1000, false);
  // mean 0.3 * 1000; variance (1000 - 300) * 0.3 * (1000 - 0).
  EXPECT_DOUBLE_EQ(statistics.GetDistribution().first, 300.0);
  EXPECT_DOUBLE_EQ(statistics.GetDistribution().second, 210000.0);
  statistics.Record(1000, 1000, true);  // one zero sample, whatever the count
  EXPECT_DOUBLE_EQ(statistics.GetDistribution().first, 210.0);
  EXPECT_DOUBLE_EQ(statistics.GetDistribution().second,
                   (0 - 210.0) * 0.3 * (0 - 300.0) + 0.7 * 210000.0);
  EXPECT_EQ(statistics.GetCount(), 2u);
}

TEST(ExponentialNormalNodeStatisticsTest, CopyKeepsTheModelButNotTheCounters) {
  ExponentialNormalNodeStatistics original(0.5);
  original.Record(4000, 1000, false);
  original.Record(4000, 1000, false);
  const ExponentialNormalNodeStatistics copy(original);
  EXPECT_EQ(copy.GetDistribution(), original.GetDistribution());
  EXPECT_EQ(copy.GetCount(), 2u);
  EXPECT_EQ(copy.GetSmoothingFactor(), 0.5);
  EXPECT_EQ(copy.GetRequests(), 0u);
  EXPECT_EQ(copy.GetBytes(), 0u);
}

TEST(ExponentialNormalNodeStatisticsTest, RevisedSampleReadsAsIfTheRequestHadFailed) {
  // Successes at 1000, 2000, 3000 B/s, then 4000 (the bad one), then 5000 and
  // 6000: revising the fourth gives exactly the model of a failure there.
  ExponentialNormalNodeStatistics revised(0.3);
  ExponentialNormalNodeStatistics failed(0.3);
  std::uint32_t bad = 0;
  for (int i = 1; i <= 6; ++i) {
    const std::uint32_t sample = revised.RecordSample(1000, 1000, false, 1000.0 * i);
    if (i == 4) bad = sample;
    failed.RecordSample(1000, 1000, i == 4, 1000.0 * i);
  }
  EXPECT_EQ(bad, 4u);
  EXPECT_FALSE(revised.LastFailed());
  revised.ReviseAsFailure(bad, 1000);
  EXPECT_DOUBLE_EQ(revised.GetDistribution().first, failed.GetDistribution().first);
  EXPECT_DOUBLE_EQ(revised.GetDistribution().second, failed.GetDistribution().second);
  EXPECT_EQ(revised.GetCount(), 6u);
  EXPECT_EQ(revised.GetRequests(), 5u);
  EXPECT_EQ(revised.GetErrors(), 1u);
  EXPECT_EQ(revised.GetSuccessBytes(), 5000u);
  EXPECT_EQ(revised.GetBytes(), 6000u);

  // The latest sample revised: the node's last request now reads as failed.
  revised.ReviseAsFailure(6, 1000);
  EXPECT_TRUE(revised.LastFailed());
}

TEST(ExponentialNormalNodeStatisticsTest, SamplesBeyondTheHistoryTakeANewFailure) {
  ExponentialNormalNodeStatistics statistics(0.3);
  const std::uint32_t first = statistics.RecordSample(10, 1, false, 5000.0);
  for (std::size_t i = 0; i < ExponentialNormalNodeStatistics::kHistory; ++i) {
    statistics.RecordSample(10, 1, false, 5000.0);
  }
  const double before = statistics.GetDistribution().first;
  statistics.ReviseAsFailure(first, 10);  // too old to replace
  EXPECT_EQ(statistics.GetCount(), ExponentialNormalNodeStatistics::kHistory + 2);
  EXPECT_DOUBLE_EQ(statistics.GetDistribution().first, 0.7 * before);
  EXPECT_TRUE(statistics.LastFailed());
  statistics.ReviseAsFailure(0, 10);  // unknown
  EXPECT_DOUBLE_EQ(statistics.GetDistribution().first, 0.49 * before);
  EXPECT_EQ(statistics.GetErrors(), 2u);
  EXPECT_EQ(statistics.GetRequests(), ExponentialNormalNodeStatistics::kHistory - 1);
}

TEST(NodeStatisticsTest, ChecksumFailureNeverWrapsTheCounters) {
  NodeStatistics statistics;
  statistics.RecordChecksumFailure(100);  // nothing to take back
  EXPECT_EQ(statistics.GetRequests(), 0u);
  EXPECT_EQ(statistics.GetSuccessBytes(), 0u);
  EXPECT_EQ(statistics.GetErrors(), 1u);
  statistics.Record(50, 10, false);
  statistics.RecordChecksumFailure(100);
  EXPECT_EQ(statistics.GetRequests(), 0u);
  EXPECT_EQ(statistics.GetSuccessBytes(), 0u);
  EXPECT_EQ(statistics.GetBytes(), 50u);
  EXPECT_EQ(statistics.GetErrors(), 2u);
}

TEST(NormalNodeStatisticsTest, SpeedConversionSaturates) {
  EXPECT_EQ(SpeedToUint64(-1.0), 0u);
  EXPECT_EQ(SpeedToUint64(std::nan("")), 0u);
  EXPECT_EQ(SpeedToUint64(1e30), std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(SpeedToUint64(12.9), 12u);
}

}  // namespace
}  // namespace velmo
