#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "velmo/transfer/TransferMonitorCallback.h"
#include "velmo/transfer/TransferMonitorImpl.h"
#include "velmo/transfer/TransferStatusSource.h"

namespace velmo {
namespace {

constexpr auto kPatience = std::chrono::seconds(10);
constexpr std::uint32_t kIntervalMs = 5;

// Snapshots set by the test; an id it never set is unknown (Invalid).
class FakeSource : public TransferStatusSource {
 public:
  TransferStatus GetTransferStatus(const std::string& transferId) override {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = statuses_.find(transferId);
    if (found == statuses_.end()) return TransferStatus();
    return found->second;
  }

  void Set(const std::string& id, TransferState state, TransferError error = TransferError::None,
           bool retryable = false) {
    TransferStatus status;
    status.transferId = id;
    status.state = state;
    status.error = error;
    status.retryable = retryable;
    std::lock_guard<std::mutex> lock(mutex_);
    statuses_[id] = status;
  }

 private:
  std::mutex mutex_;
  std::map<std::string, TransferStatus> statuses_;
};

struct Call {
  std::string kind;
  std::string id;
  TransferState state;
};

// Records every callback and lets the test wait, boundedly, for a condition.
class RecordingCallback : public TransferMonitorCallback {
 public:
  void OnProgress(const TransferStatus& s) override { Add("progress", s); }
  void OnReady(const TransferStatus& s) override { Add("ready", s); }
  void OnError(const TransferStatus& s) override { Add("error", s); }
  void OnFinished(const TransferStatus& s) override { Add("finished", s); }

  // Runs on the monitor thread after each recorded call.
  std::function<void(const Call&)> then;

  bool WaitFor(const std::function<bool(const std::vector<Call>&)>& done) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, kPatience, [&] { return done(calls_); });
  }
  bool WaitForCount(const std::string& kind, std::size_t count) {
    return WaitFor([&](const std::vector<Call>& calls) { return Count(calls, kind) >= count; });
  }
  std::vector<Call> Calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }
  static std::size_t Count(const std::vector<Call>& calls, const std::string& kind) {
    std::size_t n = 0;
    for (const Call& c : calls) n += c.kind == kind ? 1u : 0u;
    return n;
  }

 private:
  void Add(const std::string& kind, const TransferStatus& s) {
    const Call call{kind, s.transferId, s.state};
    {
      std::lock_guard<std::mutex> lock(mutex_);
      calls_.push_back(call);
    }
    changed_.notify_all();
    if (then) then(call);
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Call> calls_;
};

class TransferMonitorImplTest : public ::testing::Test {
 protected:
  TransferMonitorImplTest() {
    // A transfer that always runs: its progress calls prove that polls went
    // by after something else happened.
    source_.Set("pacer", TransferState::Transferring);
  }

  // Lets at least `polls` more polls pass.
  void LetPollsPass(std::size_t polls) {
    const std::size_t seen = RecordingCallback::Count(pacer_.Calls(), "progress");
    ASSERT_TRUE(pacer_.WaitForCount("progress", seen + polls));
  }

  FakeSource source_;
  RecordingCallback pacer_;
  RecordingCallback callback_;
  RecordingCallback other_;
  // Last, so that its thread is joined before any callback goes away.
  TransferMonitorImpl monitor_{&source_, kIntervalMs};
};

TEST_F(TransferMonitorImplTest, UnknownIdFinishesOnceWithStateInvalid) {
  monitor_.Watch("pacer", &pacer_);
  monitor_.Watch("nobody", &callback_);
  monitor_.Start();
  ASSERT_TRUE(callback_.WaitForCount("finished", 1));
  LetPollsPass(3);
  const auto calls = callback_.Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].kind, "finished");
  EXPECT_EQ(calls[0].state, TransferState::Invalid);
}

TEST_F(TransferMonitorImplTest, ProgressUntilReadyThenNothingMore) {
  source_.Set("t", TransferState::Initializing);
  monitor_.Watch("pacer", &pacer_);
  monitor_.Watch("t", &callback_);
  monitor_.Start();
  ASSERT_TRUE(callback_.WaitForCount("progress", 2));
  source_.Set("t", TransferState::Initialized);
  ASSERT_TRUE(callback_.WaitForCount("ready", 1));
  LetPollsPass(3);
  const auto calls = callback_.Calls();
  EXPECT_EQ(calls.back().kind, "ready");
  EXPECT_EQ(calls.back().state, TransferState::Initialized);
  EXPECT_EQ(RecordingCallback::Count(calls, "ready"), 1u);
  EXPECT_EQ(RecordingCallback::Count(calls, "error"), 0u);
}

TEST_F(TransferMonitorImplTest, ReadyWithAnErrorAlsoReportsTheError) {
  source_.Set("t", TransferState::Initialized, TransferError::ConnectionError, true);
  monitor_.Watch("t", &callback_);
  monitor_.Start();
  ASSERT_TRUE(callback_.WaitForCount("error", 1));
  const auto calls = callback_.Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].kind, "ready");
  EXPECT_EQ(calls[1].kind, "error");
}

TEST_F(TransferMonitorImplTest, RetryableErrorIsReportedOnceAndUnwatched) {
  source_.Set("t", TransferState::Transferring, TransferError::InsufficientDiskSpace, true);
  monitor_.Watch("pacer", &pacer_);
  monitor_.Watch("t", &callback_);
  monitor_.Start();
  ASSERT_TRUE(callback_.WaitForCount("error", 1));
  LetPollsPass(3);
  const auto calls = callback_.Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].kind, "error");
}

TEST_F(TransferMonitorImplTest, FinalSnapshotsFinish) {
  source_.Set("done", TransferState::Completed);
  source_.Set("failed", TransferState::Transferring, TransferError::ChecksumMismatch, false);
  RecordingCallback& failed = other_;
  monitor_.Watch("done", &callback_);
  monitor_.Watch("failed", &failed);
  monitor_.Start();
  ASSERT_TRUE(callback_.WaitForCount("finished", 1));
  ASSERT_TRUE(failed.WaitForCount("finished", 1));
  EXPECT_EQ(RecordingCallback::Count(failed.Calls(), "error"), 0u);
}

TEST_F(TransferMonitorImplTest, EveryCallbackOfAnIdHearsTheEnd) {
  source_.Set("t", TransferState::Canceled);
  RecordingCallback& second = other_;
  monitor_.Watch("t", &callback_);
  monitor_.Watch("t", &second);
  monitor_.Start();
  ASSERT_TRUE(callback_.WaitForCount("finished", 1));
  ASSERT_TRUE(second.WaitForCount("finished", 1));
}

TEST_F(TransferMonitorImplTest, CallbacksMayWatchAgain) {
  source_.Set("t", TransferState::Initialized);
  callback_.then = [&](const Call& call) {
    if (call.kind == "ready") {
      source_.Set("t", TransferState::Transferring);
      monitor_.Watch("t", &callback_);
    }
  };
  monitor_.Watch("t", &callback_);
  monitor_.Start();
  ASSERT_TRUE(callback_.WaitForCount("progress", 3));
  EXPECT_EQ(callback_.Calls()[0].kind, "ready");
}

TEST_F(TransferMonitorImplTest, UnwatchedCallbacksAreNotCalledAgain) {
  source_.Set("t", TransferState::Transferring);
  monitor_.Watch("pacer", &pacer_);
  monitor_.Watch("t", &callback_);
  monitor_.Start();
  ASSERT_TRUE(callback_.WaitForCount("progress", 1));
  monitor_.Unwatch("t");
  // A poll that had already begun may still finish its call; after one full
  // poll more nothing reaches the callback.
  LetPollsPass(2);
  const std::size_t after = callback_.Calls().size();
  LetPollsPass(3);
  EXPECT_EQ(callback_.Calls().size(), after);
}

TEST_F(TransferMonitorImplTest, AnEntryUnwatchedByAnEarlierCallbackInThePassIsSkipped) {
  // Ids are served in order: "a" unwatches "b" before "b" is reached, so "b"
  // never hears anything although the pass had copied it.
  source_.Set("a", TransferState::Transferring);
  source_.Set("b", TransferState::Transferring);
  RecordingCallback& b = other_;
  callback_.then = [&](const Call&) { monitor_.Unwatch("b"); };
  monitor_.Watch("pacer", &pacer_);
  monitor_.Watch("a", &callback_);
  monitor_.Watch("b", &b);
  monitor_.Start();
  ASSERT_TRUE(callback_.WaitForCount("progress", 1));
  LetPollsPass(3);
  EXPECT_TRUE(b.Calls().empty());
}

TEST(TransferMonitorImplLifeTest, DestructionStopsTheThreadWithOrWithoutStart) {
  FakeSource source;
  source.Set("t", TransferState::Transferring);
  RecordingCallback callback;
  {
    TransferMonitorImpl idle(&source, kIntervalMs);
    idle.Watch("t", &callback);
  }
  {
    TransferMonitorImpl running(&source, kIntervalMs);
    running.Watch("t", &callback);
    running.Start();
    running.Start();  // a second start changes nothing
    ASSERT_TRUE(callback.WaitForCount("progress", 2));
  }
  // The thread is gone: however long we look, no call arrives any more.
  const std::size_t after = callback.Calls().size();
  std::this_thread::sleep_for(std::chrono::milliseconds(10 * kIntervalMs));
  EXPECT_EQ(callback.Calls().size(), after);
}

}  // namespace
}  // namespace velmo
