// Which chunk of a download's tail gets a second request, and what happens to
// the other request once one copy is verified.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "support/TestPackage.h"
#include "velmo/http/HttpRequest.h"
#include "velmo/manifest/PackageManifest.h"
#include "velmo/platform/Clock.h"
#include "velmo/transfer/works/TailRequestTracker.h"
#include "velmo/transfer/works/TransferSharedMapData.h"

namespace velmo {
namespace {

class CancelCountingRequest : public HttpRequest {
 public:
  HttpRequestStatus Execute() override { return HttpRequestStatus(HttpRequestResult::Success); }
  HttpRequestStatus GetStatus() override { return HttpRequestStatus(HttpRequestResult::Success); }
  void Cancel() override { ++cancels; }
  bool Reset(const HttpRequestParams&, const std::string&) override { return true; }
  int cancels = 0;
};

const TailRequestTracker::Stage kWhole{{"f", 400}};

class TailRequestTrackerTest : public ::testing::Test {
 protected:
  // Chunk i of a 400-byte file in 100-byte chunks.
  std::shared_ptr<TransferSharedMapData> Chunk(std::uint64_t i) {
    return std::make_shared<TransferSharedMapData>(file_, i * 100, i * 100 + 99, 0, nullptr);
  }

  std::shared_ptr<TransferSharedFileData> file_ =
      std::make_shared<TransferSharedFileData>("f", 400);
  TailRequestTracker tracker_;
};

TEST_F(TailRequestTrackerTest, NoSecondRequestUntilEveryMissingChunkIsInFlight) {
  auto c0 = Chunk(0), c1 = Chunk(1), c2 = Chunk(2), c3 = Chunk(3);
  auto r = std::make_shared<CancelCountingRequest>();
  tracker_.Verified(*c0);
  EXPECT_FALSE(tracker_.Started(c1, r, nullptr, kWhole));
  EXPECT_FALSE(tracker_.Started(c2, r, nullptr, kWhole));
  // Chunk 3 has not been requested yet: its slot will come.
  EXPECT_FALSE(tracker_.TakeStraggler(kWhole, 1000).chunk);
  // Its request begins the tail, and says so: no other chunk is left to
  // start, so the caller must make a slot look for stragglers.
  EXPECT_TRUE(tracker_.Started(c3, r, nullptr, kWhole));
  EXPECT_FALSE(tracker_.Started(c3, r, nullptr, kWhole)) << "the tail began once";
  EXPECT_TRUE(tracker_.TakeStraggler(kWhole, 1000).chunk);
  // A chunk counts once, however often it is reported.
  tracker_.Verified(*c0);
  EXPECT_EQ(tracker_.GetVerifiedBytes(), 100u);
  // A request that failed, with no second copy running, leaves the tail
  // until it is requested again, and that request begins it anew.
  tracker_.SecondEnded(*c3, nullptr);  // the second request taken never started
  tracker_.Dropped(*c3);
  EXPECT_FALSE(tracker_.TakeStraggler(kWhole, 1000).chunk);
  EXPECT_TRUE(tracker_.Started(c3, r, nullptr, kWhole));
  // Requests of verified chunks begin nothing.
  tracker_.Verified(*c1);
  EXPECT_FALSE(tracker_.Started(c1, r, nullptr, kWhole));
}

TEST_F(TailRequestTrackerTest, TheChunkExpectedToFinishLastIsTakenOnce) {
  auto fast = Chunk(0), slow = Chunk(1), stalled = Chunk(2);
  auto r = std::make_shared<CancelCountingRequest>();
  for (const auto& chunk : {fast, slow, stalled}) tracker_.Started(chunk, r, nullptr, kWhole);
  tracker_.Verified(*Chunk(3));
  fast->fileProgressBytes = 90;
  slow->fileProgressBytes = 10;
  stalled->fileProgressBytes = 0;  // headers, then nothing
  const std::uint32_t now = 0;     // the elapsed time is the same for all three
  EXPECT_EQ(tracker_.TakeStraggler(kWhole, now).chunk, stalled);
  EXPECT_EQ(tracker_.TakeStraggler(kWhole, now).chunk, slow);
  EXPECT_EQ(tracker_.TakeStraggler(kWhole, now).chunk, fast);
  EXPECT_FALSE(tracker_.TakeStraggler(kWhole, now).chunk);  // each gets one second request
}

TEST_F(TailRequestTrackerTest, AStalledRequestIsTakenBeforeTheTail) {
  // Chunk 3 is not requested yet, so this is no tail; chunk 0 came in at
  // once, which makes the typical chunk a matter of milliseconds.
  auto c0 = Chunk(0), stalled = Chunk(1), moving = Chunk(2);
  auto r = std::make_shared<CancelCountingRequest>();
  tracker_.Started(c0, r, nullptr, kWhole);
  tracker_.Started(stalled, r, nullptr, kWhole);
  tracker_.Started(moving, r, nullptr, kWhole);
  const std::uint32_t start = TickCount();
  // Nothing is judged before one chunk has shown how long chunks take.
  EXPECT_FALSE(tracker_.TakeStraggler(kWhole, start + 10000).chunk);
  tracker_.Verified(*c0);
  // Half of the moving chunk is in after 300 ms: it will be done well
  // within four stall limits. The other has received nothing.
  moving->fileProgressBytes = 50;
  EXPECT_FALSE(tracker_.TakeStraggler(kWhole, start + 100).chunk) << "below the floor";
  EXPECT_EQ(tracker_.TakeStraggler(kWhole, start + 300).chunk, stalled);
  EXPECT_FALSE(tracker_.TakeStraggler(kWhole, start + 300).chunk) << "taken once";
  // The blame follows the request that stalled, not a later retry of it.
  auto retry = std::make_shared<CancelCountingRequest>();
  tracker_.Started(stalled, retry, nullptr, kWhole);
  EXPECT_FALSE(tracker_.ConsumeStalled(*stalled, *retry));
  EXPECT_TRUE(tracker_.ConsumeStalled(*stalled, *r));
  EXPECT_FALSE(tracker_.ConsumeStalled(*stalled, *r)) << "blamed once";
  EXPECT_FALSE(tracker_.ConsumeStalled(*moving, *r));
  // In the tail, the moving chunk is the straggler, but no stalled one.
  auto c3 = Chunk(3);
  tracker_.Started(c3, r, nullptr, kWhole);
  c3->fileProgressBytes = 90;
  EXPECT_EQ(tracker_.TakeStraggler(kWhole, start + 300).chunk, moving);
  EXPECT_FALSE(tracker_.ConsumeStalled(*moving, *r));
}

TEST_F(TailRequestTrackerTest, TheFirstVerifiedCopyCancelsTheOtherRequest) {
  auto chunk = Chunk(0);
  for (std::uint64_t i = 1; i < 4; ++i) tracker_.Verified(*Chunk(i));
  auto first = std::make_shared<CancelCountingRequest>();
  auto second = std::make_shared<CancelCountingRequest>();
  tracker_.Started(chunk, first, nullptr, kWhole);
  ASSERT_EQ(tracker_.TakeStraggler(kWhole, 0).chunk, chunk);
  EXPECT_TRUE(tracker_.SetSecondRequest(*chunk, second));
  tracker_.Verified(*chunk);
  EXPECT_EQ(first->cancels, 1);
  EXPECT_EQ(second->cancels, 1);
  // Too late for another second request; ended requests are not kept alive.
  EXPECT_FALSE(tracker_.SetSecondRequest(*chunk, second));
  std::weak_ptr<CancelCountingRequest> gone = first;
  tracker_.Started(Chunk(1), first, nullptr, kWhole);
  first.reset();
  EXPECT_TRUE(gone.expired());
  tracker_.AddWasted(70);
  tracker_.AddWasted(30);
  EXPECT_EQ(tracker_.GetWastedBytes(), 100u);
}

TEST_F(TailRequestTrackerTest, ASecondCopyOutlivesAFailedFirstAndNoThirdStarts) {
  auto chunk = Chunk(0);
  for (std::uint64_t i = 1; i < 4; ++i) tracker_.Verified(*Chunk(i));
  auto first = std::make_shared<CancelCountingRequest>();
  auto second = std::make_shared<CancelCountingRequest>();
  auto retry = std::make_shared<CancelCountingRequest>();
  tracker_.Started(chunk, first, nullptr, kWhole);
  ASSERT_EQ(tracker_.TakeStraggler(kWhole, 0).chunk, chunk);
  ASSERT_TRUE(tracker_.SetSecondRequest(*chunk, second));
  // The first copy fails while the second runs: the second stays known, and
  // the pipeline's retry makes two copies, never three.
  tracker_.Dropped(*chunk);
  EXPECT_FALSE(tracker_.TakeStraggler(kWhole, 0).chunk);
  EXPECT_FALSE(tracker_.Started(chunk, retry, nullptr, kWhole)) << "no new tail";
  EXPECT_FALSE(tracker_.TakeStraggler(kWhole, 0).chunk);
  // Whichever copy wins, the other is cancelled.
  tracker_.Verified(*chunk);
  EXPECT_EQ(second->cancels, 1);
  EXPECT_EQ(retry->cancels, 1);
  EXPECT_EQ(first->cancels, 0) << "it had ended";

  // A chunk gets one second request per flight, however it ends; once its
  // first copy has ended too, the chunk leaves the flight and may be doubled
  // anew.
  auto again = std::make_shared<TransferSharedFileData>("h", 100);
  auto h = std::make_shared<TransferSharedMapData>(again, 0, 99, 0, nullptr);
  const TailRequestTracker::Stage stage{{"h", 100}};
  tracker_.Started(h, first, nullptr, stage);
  ASSERT_EQ(tracker_.TakeStraggler(stage, 0).chunk, h);
  ASSERT_TRUE(tracker_.SetSecondRequest(*h, second));
  tracker_.SecondEnded(*h, second.get());
  EXPECT_FALSE(tracker_.TakeStraggler(stage, 0).chunk);
  tracker_.Dropped(*h);
  EXPECT_FALSE(tracker_.TakeStraggler(stage, 0).chunk);
  EXPECT_TRUE(tracker_.Started(h, retry, nullptr, stage)) << "requested anew";
  EXPECT_EQ(tracker_.TakeStraggler(stage, 0).chunk, h);
}

TEST_F(TailRequestTrackerTest, AStageEndsWhereItsFilesEndAndOtherFilesWait) {
  // The program file "f" is a stage of its own; "g" waits until it is done.
  auto other = std::make_shared<TransferSharedFileData>("g", 100);
  const TailRequestTracker::Stage program{{"f", 400}};
  const TailRequestTracker::Stage whole{{"f", 400}, {"g", 100}};
  auto r = std::make_shared<CancelCountingRequest>();
  tracker_.Verified(*Chunk(0));
  tracker_.Verified(*Chunk(1));
  tracker_.Verified(*Chunk(2));
  // The program file's last chunk begins its stage's tail, not the whole's.
  EXPECT_FALSE(tracker_.Started(Chunk(3), r, nullptr, whole));
  tracker_.Dropped(*Chunk(3));
  EXPECT_TRUE(tracker_.Started(Chunk(3), r, nullptr, program));
  EXPECT_FALSE(tracker_.IsComplete(program));
  EXPECT_FALSE(tracker_.TakeStraggler(whole, 0).chunk);  // "g" is not requested yet
  EXPECT_TRUE(tracker_.TakeStraggler(program, 0).chunk);
  tracker_.Verified(*Chunk(3));
  EXPECT_TRUE(tracker_.IsComplete(program));
  EXPECT_EQ(tracker_.GetVerifiedBytes("f"), 400u);
  auto g = std::make_shared<TransferSharedMapData>(other, 0, 99, 0, nullptr);
  EXPECT_TRUE(tracker_.Started(g, r, nullptr, whole));
  // A chunk outside the stage is never taken.
  EXPECT_FALSE(tracker_.TakeStraggler(program, 0).chunk);
  EXPECT_EQ(tracker_.TakeStraggler(whole, 0).chunk, g);
}

// The stages the tracker makes keep counts instead of walking their files;
// after any sequence of starts, ends and verifications the counts must give
// the answers a walk over a copy of the stage gives.
TEST(TailRequestTrackerCountsTest, CountedStagesAnswerAsTheWalkDoes) {
  test::TestPackage package;
  package.chunkSize = 100;
  package.run = "bin/run";
  package.AddFile("bin/run", 350);
  package.AddFile("a", 1000);
  package.AddFile("b", 100);
  package.AddFile("empty", 0);
  const auto manifest = package.Manifest();
  std::vector<std::shared_ptr<TransferSharedMapData>> chunks;
  for (const auto& file : manifest->GetFiles()) {
    auto data = std::make_shared<TransferSharedFileData>(file->GetPath(), file->GetSize());
    for (std::uint64_t lower = 0; lower < file->GetSize(); lower += 100) {
      const std::uint64_t upper = std::min(lower + 100, file->GetSize()) - 1;
      chunks.push_back(std::make_shared<TransferSharedMapData>(data, lower, upper, 0, nullptr));
    }
  }
  std::vector<std::shared_ptr<CancelCountingRequest>> seconds(chunks.size());
  auto request = std::make_shared<CancelCountingRequest>();
  TailRequestTracker tracker;
  const auto program = tracker.CurrentStage(manifest);
  std::mt19937 random(5);
  int tails = 0;
  for (int step = 0; step < 3000 && !tracker.IsComplete(*tracker.CurrentStage(manifest)); ++step) {
    const auto stage = tracker.CurrentStage(manifest);
    const std::size_t i = random() % chunks.size();
    const TransferSharedMapData& chunk = *chunks[i];
    switch (random() % 8) {
      case 0:
        tracker.Verified(chunk);
        break;
      case 1:
        tracker.Dropped(chunk);
        break;
      case 2:
        tracker.SecondEnded(chunk, seconds[i].get());
        seconds[i].reset();
        break;
      case 3:
        if (const auto straggler = tracker.TakeStraggler(*stage, 0); straggler.chunk) {
          const std::size_t j = static_cast<std::size_t>(
              std::find(chunks.begin(), chunks.end(), straggler.chunk) - chunks.begin());
          seconds[j] = std::make_shared<CancelCountingRequest>();
          tracker.SetSecondRequest(*straggler.chunk, seconds[j]);
        }
        break;
      default:
        tracker.Started(chunks[i], request, nullptr, *stage);
    }
    for (const auto& counted : {program, stage}) {
      const TailRequestTracker::Stage walked = *counted;
      ASSERT_EQ(tracker.InTail(*counted), tracker.InTail(walked)) << "step " << step;
      ASSERT_EQ(tracker.IsComplete(*counted), tracker.IsComplete(walked)) << "step " << step;
    }
    tails += tracker.InTail(*stage) ? 1 : 0;
  }
  EXPECT_TRUE(tracker.IsComplete(*tracker.CurrentStage(manifest)));
  EXPECT_NE(tracker.CurrentStage(manifest), program) << "the program stage came first";
  EXPECT_GT(tails, 0);
}

}  // namespace
}  // namespace velmo
