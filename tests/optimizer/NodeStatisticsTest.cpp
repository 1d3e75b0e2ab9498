#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "velmo/optimizer/NodeStatistics.h"

namespace velmo {
namespace {

TEST(NodeStatisticsTest, RecordCountsSuccessesAndFailures) {
  NodeStatistics statistics;
  statistics.Record(1000, 0, false);   // 0 ms counts as 1
  statistics.Record(500, 1999, true);  // bytes, not speed
  EXPECT_EQ(statistics.GetRequests(), 1u);
  EXPECT_EQ(statistics.GetErrors(), 1u);
  EXPECT_EQ(statistics.GetBytes(), 1500u);
  EXPECT_EQ(statistics.GetSuccessBytes(), 1000u);
  EXPECT_EQ(statistics.GetTotalTimeMs(), 2000u);

  boost::property_tree::ptree tree;
  tree.put("Errors", "stale");
  statistics.Write(tree);
  EXPECT_EQ(tree.get<std::string>("Requests"), "2");
  EXPECT_EQ(tree.get<std::string>("Errors"), "1");
  EXPECT_EQ(tree.get<std::string>("Bytes"), "1500");
  EXPECT_EQ(tree.get<std::string>("Average Request Speed"), "500");
  EXPECT_EQ(tree.size(), 4u);
}

TEST(NodeStatisticsTest, UnusedStatisticsWriteZeroSpeed) {
  NodeStatistics statistics;
  boost::property_tree::ptree tree;
  statistics.Write(tree);
  EXPECT_EQ(tree.get<std::string>("Average Request Speed"), "0");
  EXPECT_EQ(tree.get<std::string>("Requests"), "0");
}

TEST(NodeStatisticsTest, TakeDeltaReturnsWhatWasAddedSinceTheLastReport) {
  NodeStatistics statistics;
  statistics.Record(1000, 10, false);
  EXPECT_EQ(statistics.TakeBytesDelta(), 1000u);
  EXPECT_EQ(statistics.TakeBytesDelta(), 0u);
  statistics.Record(250, 0, true);
  EXPECT_EQ(statistics.TakeBytesDelta(), 250u);
  EXPECT_EQ(statistics.TakeTotalTimeMsDelta(), 11u);
  EXPECT_EQ(statistics.TakeTotalTimeMsDelta(), 0u);
  // Marks are per counter.
  EXPECT_EQ(statistics.TakeSuccessBytesDelta(), 1000u);
  EXPECT_EQ(statistics.TakeRequestsDelta(), 1u);
  EXPECT_EQ(statistics.TakeErrorsDelta(), 1u);
}

TEST(NodeStatisticsTest, ConcurrentRecordsAndReportsLoseNothing) {
  for (int threads : {1, 2, 4, 8}) {
    NodeStatistics statistics;
    constexpr int kRecords = 2000;
    std::atomic<std::uint64_t> reported{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
      workers.emplace_back([&statistics, t] {
        for (int i = 0; i < kRecords; ++i) statistics.Record(3, 1, (i + t) % 3 == 0);
      });
    }
    std::thread reporter([&] {
      for (int i = 0; i < 500; ++i) {
        reported += statistics.TakeBytesDelta();
        boost::property_tree::ptree tree;
        statistics.Write(tree);
      }
    });
    for (auto& worker : workers) worker.join();
    reporter.join();
    reported += statistics.TakeBytesDelta();
    EXPECT_EQ(reported.load(), 3u * kRecords * static_cast<unsigned>(threads));
    EXPECT_EQ(statistics.GetRequests() + statistics.GetErrors(),
              static_cast<std::uint32_t>(kRecords * threads));
  }
}

}  // namespace
}  // namespace velmo
