#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

#include "manifest/ManifestTestSupport.h"
#include "velmo/engine/EngineSettings.h"
#include "velmo/engine/TransferParams.h"
#include "velmo/manifest/StandardPackageManifest.h"
#include "velmo/transfer/TransferStatusImpl.h"

namespace velmo {
namespace {

// package-elements.xml: three files of 2,500,000 + 4,096 + 0 bytes, run path
// bin/app.exe.
constexpr std::uint64_t kPackageSize = 2504096;

class TransferStatusImplTest : public ::testing::Test {
 protected:
  TransferStatusImplTest() : status_(10, 500, [this] { return now_; }) {
    params_.transferId = "T1";
    params_.partnerId = "partner";
    params_.packageId = "pkg";
    params_.versionId = "1.0";
    params_.destPath = "/home/u/dl";
  }

  void UsePackage() {
    StandardPackageManifest package;
    package.Parse(test::XmlTree(test::ManifestDataFile("package-elements.xml")));
    status_.SetPackage(package);
  }

  // A poll at `ms` on the injected clock.
  TransferStatus PollAt(std::uint32_t ms) {
    now_ = ms;
    return status_.GetStatus(params_);
  }

  std::uint32_t now_ = 0;
  TransferParams params_;
  TransferStatusImpl status_;
};

TEST_F(TransferStatusImplTest, FreshSnapshotCarriesIdentifiersAndNoEstimates) {
  const TransferStatus s = PollAt(0);
  EXPECT_EQ(s.transferId, "T1");
  EXPECT_EQ(s.partnerId, "partner");
  EXPECT_EQ(s.packageId, "pkg");
  EXPECT_EQ(s.versionId, "1.0");
  EXPECT_EQ(s.destPath, "/home/u/dl");
  EXPECT_EQ(s.state, TransferState::Initializing);
  EXPECT_EQ(s.error, TransferError::None);
  EXPECT_FALSE(s.retryable);
  EXPECT_EQ(s.totalBytes, 0u);
  EXPECT_EQ(s.speed, 0u);
  EXPECT_EQ(s.secondsRemaining, -1);
  EXPECT_FALSE(IsFinal(s));
}

TEST_F(TransferStatusImplTest, RunPathOnlyInCompletedSnapshots) {
  UsePackage();
  for (TransferState state : {TransferState::Initialized, TransferState::Transferring,
                              TransferState::Suspended, TransferState::Canceled}) {
    status_.SetState(state);
    const TransferStatus s = PollAt(0);
    EXPECT_EQ(s.runPath, "") << static_cast<int>(state);
    EXPECT_EQ(s.totalBytes, kPackageSize);
  }
  status_.SetState(TransferState::Completed);
  EXPECT_EQ(PollAt(0).runPath, "bin/app.exe");
}

TEST_F(TransferStatusImplTest, SpeedDividesByTheWholeWindow) {
  status_.SetState(TransferState::Transferring);
  PollAt(1000);
  status_.AddDownloaded(300000);
  // 3 seconds apart, window 10: 300,000 / 10, not / 3.
  EXPECT_EQ(PollAt(4000).speed, 30000u);
}

TEST_F(TransferStatusImplTest, OldSamplesLeaveTheWindowButNeverTheLastTwo) {
  status_.SetState(TransferState::Transferring);
  PollAt(0);
  status_.AddDownloaded(200000);
  // Only two samples, 20 s apart: both stay, and 20 s is the divisor.
  EXPECT_EQ(PollAt(20000).speed, 10000u);
  status_.AddDownloaded(10000);
  // The sample at 0 is now beyond the window and goes; the remaining pair is
  // 1 s apart, so the window (10 s) divides.
  EXPECT_EQ(PollAt(21000).speed, 1000u);
}

TEST_F(TransferStatusImplTest, RemovingMoreProgressThanCountedStopsAtZero) {
  status_.AddProgress(100);
  status_.RemoveProgress(250);
  EXPECT_EQ(PollAt(0).progressBytes, 0u);
  status_.AddProgress(40);
  EXPECT_EQ(PollAt(0).progressBytes, 40u);
}

TEST_F(TransferStatusImplTest, RemainingTimeFromAverageSpeedRefreshedEveryHalfSecond) {
  UsePackage();
  status_.SetState(TransferState::Transferring);
  EXPECT_EQ(PollAt(0).secondsRemaining, -1);
  status_.AddDownloaded(1000);
  status_.AddProgress(1000);
  // 1000 bytes in 1 s of active time; 2,503,096 bytes left.
  EXPECT_EQ(PollAt(1000).secondsRemaining, 2504);
  EXPECT_EQ(status_.GetActiveMs(), 1000u);
  // Less than 500 ms of active time later the figure stays.
  EXPECT_EQ(PollAt(1400).secondsRemaining, 2504);
  // 1.6 s for 1000 bytes: ceil(1.6e-3 x 2,503,096) = 4005.
  EXPECT_EQ(PollAt(1600).secondsRemaining, 4005);
}

TEST_F(TransferStatusImplTest, ProgressBeyondTotalLeavesNoTimeRatherThanAWrappedCount) {
  UsePackage();
  status_.SetState(TransferState::Transferring);
  PollAt(0);
  status_.AddDownloaded(kPackageSize);
  status_.AddProgress(kPackageSize + 5000);
  EXPECT_EQ(PollAt(1000).secondsRemaining, 0);
}

TEST_F(TransferStatusImplTest, EstimateBeyondInt32IsClamped) {
  UsePackage();
  status_.SetState(TransferState::Transferring);
  PollAt(0);
  status_.AddDownloaded(1);
  // One byte in 4,000 s: 2,504,095 bytes need about 10^10 s.
  const TransferStatus s = PollAt(4000000);
  EXPECT_EQ(s.secondsRemaining, std::numeric_limits<std::int32_t>::max());
}

TEST_F(TransferStatusImplTest, PausedTimeIsNotActiveAndTheSpeedFallsAway) {
  status_.SetState(TransferState::Transferring);
  PollAt(0);
  status_.AddDownloaded(10000);
  EXPECT_EQ(PollAt(1000).speed, 1000u);
  EXPECT_EQ(status_.GetActiveMs(), 1000u);

  status_.SetState(TransferState::TransferringPaused);
  // Samples are still taken while paused: 10,000 bytes over max(5 s, 10 s).
  EXPECT_EQ(PollAt(5000).speed, 1000u);
  EXPECT_EQ(status_.GetActiveMs(), 1000u);
  // Once the window holds only paused samples the speed is 0.
  EXPECT_EQ(PollAt(12000).speed, 0u);
  EXPECT_EQ(status_.GetActiveMs(), 1000u);

  // The first poll after resuming only starts the clock again.
  status_.SetState(TransferState::Transferring);
  PollAt(13000);
  EXPECT_EQ(status_.GetActiveMs(), 1000u);
  status_.AddDownloaded(1);
  PollAt(14000);
  EXPECT_EQ(status_.GetActiveMs(), 2000u);
}

TEST_F(TransferStatusImplTest, TimeSuspendedIsNotCountedAsActiveAfterTransferringAgain) {
  status_.SetState(TransferState::Transferring);
  PollAt(0);
  status_.AddDownloaded(500);
  PollAt(1000);
  ASSERT_EQ(status_.GetActiveMs(), 1000u);
  status_.SetState(TransferState::Suspended);
  PollAt(2000);
  status_.SetState(TransferState::Initializing);
  PollAt(30000);
  status_.SetState(TransferState::Transferring);
  PollAt(60000);
  EXPECT_EQ(status_.GetActiveMs(), 1000u);
  PollAt(61000);
  EXPECT_EQ(status_.GetActiveMs(), 2000u);
}

TEST_F(TransferStatusImplTest, ErrorsStopActiveTimeAndRecomputeTheEstimate) {
  UsePackage();
  status_.SetState(TransferState::Transferring);
  PollAt(0);
  status_.AddDownloaded(1000);
  EXPECT_EQ(PollAt(1000).secondsRemaining, 2505);
  status_.SetError(TransferError::ConnectionError, true);
  PollAt(1100);
  PollAt(9000);
  EXPECT_EQ(status_.GetActiveMs(), 1000u);
  status_.AddProgress(1000);
  // Not actively transferring: the estimate follows the counters at once.
  EXPECT_EQ(PollAt(9100).secondsRemaining, 2504);
}

TEST_F(TransferStatusImplTest, ActiveTimeAcrossTheClockWrap) {
  status_.SetState(TransferState::Transferring);
  PollAt(0xFFFFF000u);
  status_.AddDownloaded(1);
  PollAt(3000);  // 4,096 ms to the wrap, then 3,000 ms
  EXPECT_EQ(status_.GetActiveMs(), 7096u);
}

TEST_F(TransferStatusImplTest, FinalSnapshotsTakeNoSamples) {
  status_.SetState(TransferState::Transferring);
  PollAt(0);
  status_.AddDownloaded(50000);
  PollAt(5000);
  status_.SetState(TransferState::Completed);
  status_.AddDownloaded(1000000);
  // Still the two transferring samples: 50,000 / 10.
  EXPECT_EQ(PollAt(6000).speed, 5000u);
}

TEST_F(TransferStatusImplTest, ReportMarksCoverTheIntervalSinceTheLastReport) {
  status_.SetState(TransferState::Transferring);
  PollAt(0);
  status_.AddDownloaded(100);
  PollAt(700);
  EXPECT_EQ(status_.PeekActiveMsDelta(), 700u);
  EXPECT_EQ(status_.PeekActiveMsDelta(), 700u);  // peeking leaves the mark
  EXPECT_EQ(status_.TakeActiveMsDelta(), 700u);
  EXPECT_EQ(status_.TakeTransferredDelta(), 100u);
  EXPECT_EQ(status_.PeekActiveMsDelta(), 0u);
  EXPECT_EQ(status_.TakeTransferredDelta(), 0u);
  status_.AddDownloaded(40);
  PollAt(1000);
  EXPECT_EQ(status_.TakeActiveMsDelta(), 300u);
  EXPECT_EQ(status_.TakeTransferredDelta(), 40u);
}

TEST_F(TransferStatusImplTest, PeriodicReportIsDueOnlyAfterMoreThanTheInterval) {
  status_.SetState(TransferState::Transferring);
  PollAt(0);
  status_.AddDownloaded(1);
  PollAt(300000);
  EXPECT_FALSE(status_.IsPeriodicReportDue(300));  // exactly the interval is not enough
  PollAt(300001);
  EXPECT_TRUE(status_.IsPeriodicReportDue(300));
  EXPECT_TRUE(status_.IsPeriodicReportDue(300));  // asking does not report
  status_.TakeActiveMsDelta();
  EXPECT_FALSE(status_.IsPeriodicReportDue(300));
}

TEST(TransferStatusImplSettingsTest, TakesWindowAndRefreshFromTheSettings) {
  EngineSettings settings;
  settings.speedSampleWindow = 2;
  settings.remainingTimeInterval = -5;  // nonsense counts as 0: every poll recomputes
  std::uint32_t now = 0;
  TransferStatusImpl status(settings, [&] { return now; });
  TransferParams params;
  status.SetState(TransferState::Transferring);
  status.GetStatus(params);
  status.AddDownloaded(3000);
  now = 1000;
  // 3000 bytes in 1 s over a window of 2 s.
  EXPECT_EQ(status.GetStatus(params).speed, 1500u);
  now = 1001;
  EXPECT_EQ(status.GetStatus(params).secondsRemaining, 0);
}

class TransferStatusImplConcurrencyTest : public ::testing::TestWithParam<int> {};

TEST_P(TransferStatusImplConcurrencyTest, CountersAndReportsLoseNothing) {
  TransferStatusImpl status(10, 500, [] { return 0u; });
  const int threads = GetParam();
  constexpr int kBlocks = 20000;
  std::atomic<bool> writing{true};
  std::uint64_t reported = 0;
  std::thread reporter([&] {
    while (writing.load()) reported += status.TakeTransferredDelta();
  });
  std::vector<std::thread> writers;
  for (int t = 0; t < threads; ++t) {
    writers.emplace_back([&] {
      for (int i = 0; i < kBlocks; ++i) {
        status.AddProgress(3);
        status.AddDownloaded(3);
        status.RemoveProgress(1);
        status.AddVerified(2);
      }
    });
  }
  for (auto& writer : writers) writer.join();
  writing = false;
  reporter.join();
  reported += status.TakeTransferredDelta();

  TransferParams params;
  const TransferStatus s = status.GetStatus(params);
  const std::uint64_t blocks = static_cast<std::uint64_t>(threads) * kBlocks;
  EXPECT_EQ(s.transferredBytes, 3 * blocks);
  EXPECT_EQ(s.progressBytes, 2 * blocks);
  EXPECT_EQ(s.completedBytes, 2 * blocks);
  EXPECT_EQ(reported, 3 * blocks);
}

INSTANTIATE_TEST_SUITE_P(Threads, TransferStatusImplConcurrencyTest, ::testing::Values(1, 2, 4, 8));

}  // namespace
}  // namespace velmo
