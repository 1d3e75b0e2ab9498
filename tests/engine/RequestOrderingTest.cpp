// The order in which the answers to a chunk's requests arrive, set step by
// step through scripted nodes: a copy of other bytes that loses the race and
// goes on sending, two copies of other bytes, a first request failing while
// the second runs (all with chunks four times their receive buffer), every
// request slot taken. Whatever the order, a transfer ends with the published bytes
// in its file, or with a typed error and nothing in the file but published
// bytes and what the file held before them (zeros: the file is created by
// the transfer). Each step waits, bounded, for the request or the engine
// state it needs; the one window of time, in which a test looks for a copy
// that must not be requested, passes a correct engine however long it is.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/EngineWait.h"
#include "support/Eventually.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"
#include "support/TestPackage.h"
#include "velmo/engine/TransferEngine.h"
#include "velmo/transfer/TransferStatus.h"

namespace velmo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::TestHttpServer;
using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kBound = 30s;  // for anything the engine must do
constexpr const char* kFile = "data/big.bin";
// Cases with one race: a two-chunk file fetched one chunk at a time, each
// chunk four receive buffers long.
constexpr std::uint32_t kBuffer = 64 * 1024;
constexpr std::uint32_t kChunk = 4 * kBuffer;
constexpr std::uint32_t kMost = kChunk - kBuffer / 2;  // three buffers and a half

// Bytes as long as `published` that differ at every position from it and
// from zero, so that wherever they land in the file they are told apart from
// both the published bytes and bytes never written.
std::string OtherBytes(const std::string& published, unsigned seed) {
  std::string other(published.size(), '\0');
  std::uint32_t state = seed * 2246822519u + 7u;
  for (std::size_t i = 0; i < published.size(); ++i) {
    state = state * 1664525u + 1013904223u;
    const unsigned original = static_cast<unsigned char>(published[i]);
    unsigned value = (original + 1u + (state >> 24) % 254u) & 0xFFu;
    while (value == 0 || value == original) value = (value + 1u) & 0xFFu;
    other[i] = static_cast<char>(value);
  }
  return other;
}

// Bytes of `actual` that are neither the published byte at their place nor
// zero: bytes that no verified copy put there.
std::size_t UnverifiedBytes(const std::string& actual, const std::string& published) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < std::min(actual.size(), published.size()); ++i) {
    if (actual[i] != published[i] && actual[i] != '\0') ++count;
  }
  return count;
}

::testing::AssertionResult SameBytes(const std::string& actual, const std::string& published) {
  if (actual == published) return ::testing::AssertionSuccess();
  const auto differ = std::mismatch(actual.begin(), actual.end(), published.begin());
  return ::testing::AssertionFailure()
         << "the file (" << actual.size() << " bytes) is not the published " << published.size()
         << " bytes: first difference at " << (differ.first - actual.begin()) << ", "
         << UnverifiedBytes(actual, published) << " bytes neither published nor zero";
}

// Every chunk holds either its published bytes or zeros only.
::testing::AssertionResult ChunksPublishedOrEmpty(const std::string& actual,
                                                  const std::string& published,
                                                  std::size_t chunkSize) {
  if (actual.size() != published.size()) {
    return ::testing::AssertionFailure()
           << "the file has " << actual.size() << " bytes, not " << published.size();
  }
  for (std::size_t at = 0; at < actual.size(); at += chunkSize) {
    const std::size_t n = std::min(chunkSize, actual.size() - at);
    if (actual.compare(at, n, published, at, n) == 0) continue;
    if (actual.find_first_not_of('\0', at) >= at + n) continue;
    const std::size_t foreign = UnverifiedBytes(actual.substr(at, n), published.substr(at, n));
    return ::testing::AssertionFailure()
           << "the chunk at " << at << " is neither published nor empty (" << foreign
           << " bytes neither published nor zero)";
  }
  return ::testing::AssertionSuccess();
}

class RequestOrderingTest : public ::testing::Test {
 protected:
  struct Arrival {
    std::size_t node = 0;
    TestHttpServer::Scripted request;
  };
  // The two requests of the second chunk: the chunk's own one and the
  // second one that the tail starts beside it.
  struct Race {
    Arrival first;
    Arrival second;
  };

  RequestOrderingTest() {
    for (auto& node : nodes_) node = std::make_unique<TestHttpServer>();
  }

  void SetPackage(std::uint32_t chunkSize, std::size_t chunks) {
    package_.chunkSize = chunkSize;
    package_.AddFile(kFile, chunkSize * chunks, 3);
  }

  // Two chunks; the receive buffer a quarter of one; one chunk in flight at
  // a time, so that the first is fetched alone and the second's requests
  // race from a known start.
  static EngineSettings OneRaceSettings() {
    EngineSettings settings(2);
    settings.chunkBufferSize = kBuffer;
    settings.parallelWorkCapacity = 1;
    return settings;
  }

  void Start(EngineSettings settings) {
    settings.manifestHost = manifests_.Host();
    settings.manifestConnectTimeout = 2;
    settings.manifestTimeout = 10;
    settings.logsFolder = "velmo-test/logs";
    settings.transfersFolder = "velmo-test/transfers";
    // A request the test holds must not time out meanwhile: the order of
    // events is the test's, not the clock's.
    settings.minLowSpeedTime = settings.maxLowSpeedTime = settings.exploreLowSpeedTime = 300;
    settings.minRequestTimeout = settings.exploreMinRequestTimeout = 300;
    std::vector<TestHttpServer*> listed;
    for (std::size_t i = 0; i < listedNodes_; ++i) listed.push_back(nodes_[i].get());
    package_.Serve(manifests_, listed);
    for (auto& node : nodes_) node->SetScripted(Path());
    engine_ = std::make_unique<TransferEngine>(
        settings, AnalyticsEndpoints{analytics_.Url("/events"), analytics_.Url("/transfers")});
    id_ = engine_->CreateTransfer(package_.partnerId, package_.packageId, "?").transferId;
    ASSERT_TRUE(WaitStatus([](const TransferStatus& s) {
      return s.state == TransferState::Initialized || IsFinal(s);
    }));
    ASSERT_EQ(Status().state, TransferState::Initialized) << ErrorName(Status().error);
    fs::create_directories(dest_);
    engine_->StartTransfer(id_, dest_);
  }

  std::string Path() const { return package_.NodePath(kFile); }
  const std::string& Published() const { return package_.files.at(kFile); }
  std::string FileNow() const { return test::ReadFile(dest_ + "/" + kFile); }
  TestHttpServer& Node(const Arrival& arrival) { return *nodes_[arrival.node]; }
  TransferStatus Status() { return engine_->GetTransferStatus(id_); }

  template <typename Predicate>
  bool WaitStatus(Predicate done, std::chrono::milliseconds bound = kBound) {
    return done(test::PollStatus(*engine_, id_, done, bound, 2ms));
  }
  static bool Ended(const TransferStatus& s) {
    return IsFinal(s) || s.error != TransferError::None;
  }
  TransferStatus WaitEnd() {
    EXPECT_TRUE(WaitStatus(Ended)) << "the transfer did not end";
    return Status();
  }
  // The engine has taken in this many body bytes (what it counts as received).
  bool WaitReceived(std::uint64_t bytes) {
    return WaitStatus([&](const TransferStatus& s) { return s.transferredBytes >= bytes; });
  }

  // The next request at any node; none when none comes within `bound`.
  std::optional<Arrival> NextRequest(std::chrono::milliseconds bound = kBound) {
    const auto until = Clock::now() + bound;
    do {
      for (std::size_t i = 0; i < std::size(nodes_); ++i) {
        if (auto request = nodes_[i]->WaitForRequest(Path(), 2ms)) return Arrival{i, *request};
      }
    } while (Clock::now() < until);
    return std::nullopt;
  }

  bool AnswerInFull(const Arrival& arrival, const std::string& body) {
    const auto& request = arrival.request;
    return Node(arrival).SendHeaders(request.id) &&
           Node(arrival).SendBytes(request.id, body.substr(request.first, request.Size()));
  }

  // The first chunk, requested alone, answered in full; the index of the
  // node that served it.
  std::optional<std::size_t> ServeFirstChunk() {
    const std::optional<Arrival> arrival = NextRequest();
    if (!arrival) {
      ADD_FAILURE() << "the first chunk was never requested";
      return std::nullopt;
    }
    EXPECT_EQ(arrival->request.first, 0u);
    EXPECT_TRUE(AnswerInFull(*arrival, Published()));
    return arrival->node;
  }

  // The second chunk's two requests. Its own goes to the node that has
  // served nothing yet (untried nodes come first); being the last chunk, it
  // begins the tail, and the second request goes to the other node at once.
  std::optional<Race> AwaitRace() {
    const std::optional<std::size_t> warm = ServeFirstChunk();
    if (!warm) return std::nullopt;
    std::optional<Arrival> first;
    std::optional<Arrival> second;
    for (int k = 0; k < 2; ++k) {
      const std::optional<Arrival> arrival = NextRequest();
      if (!arrival) {
        ADD_FAILURE() << "the last chunk got " << k << " requests, not two";
        return std::nullopt;
      }
      if (arrival->request.first != kChunk) {
        ADD_FAILURE() << "a request from " << arrival->request.first
                      << " instead of the last chunk";
        return std::nullopt;
      }
      (arrival->node == *warm ? second : first) = arrival;
    }
    if (!first || !second) {
      ADD_FAILURE() << "both requests of the last chunk went to one node";
      return std::nullopt;
    }
    return Race{*first, *second};
  }

  // A two-chunk package, its first chunk served, its last chunk's two
  // requests waiting.
  void StartRace(Race& race) {
    SetPackage(kChunk, 2);
    ASSERT_NO_FATAL_FAILURE(Start(OneRaceSettings()));
    const std::optional<Race> found = AwaitRace();
    ASSERT_TRUE(found.has_value());
    race = *found;
  }

  std::string PublishedChunk() const { return Published().substr(kChunk, kChunk); }

  test::TempDir temp_;
  const std::string dest_ = temp_ / "dest";
  test::TestPackage package_;
  TestHttpServer manifests_;
  TestHttpServer analytics_;
  std::unique_ptr<TestHttpServer> nodes_[3];
  std::size_t listedNodes_ = 2;  // the nodes the node list names
  // Last, so that it goes first: its requests end before the servers do.
  std::unique_ptr<TransferEngine> engine_;
  std::string id_;
};

// ---------------------------------------------------------------------------
// A copy of other bytes that loses the race.

TEST_F(RequestOrderingTest, OtherBytesOfTheLosingFirstRequestNeverReachTheFile) {
  Race race;
  ASSERT_NO_FATAL_FAILURE(StartRace(race));
  const std::string other = OtherBytes(PublishedChunk(), 1);
  TestHttpServer& loser = Node(race.first);
  const int lost = race.first.request.id;

  // Most of the chunk in other bytes, more than its buffer holds; then the
  // first request waits.
  ASSERT_TRUE(loser.SendHeaders(lost));
  ASSERT_TRUE(loser.SendBytes(lost, other.substr(0, kMost)));
  ASSERT_TRUE(WaitReceived(kChunk + kMost)) << "the engine never took the bytes in";
  EXPECT_EQ(UnverifiedBytes(FileNow(), Published()), 0u)
      << "bytes of an unchecked copy are in the file";

  // The second request brings the published chunk and wins.
  ASSERT_TRUE(AnswerInFull(race.second, Published()));
  ASSERT_TRUE(WaitStatus([&](const TransferStatus& s) {
    return s.completedBytes == package_.TotalSize() || Ended(s);
  }));
  // The losing request is cancelled; whatever it would still send changes
  // nothing.
  EXPECT_TRUE(loser.WaitClosedByClient(lost, kBound)) << "the losing request was left running";
  loser.SendBytes(lost, other.substr(kMost, kChunk - kMost - 1));

  const TransferStatus end = WaitEnd();
  EXPECT_EQ(end.state, TransferState::Completed) << ErrorName(end.error);
  EXPECT_TRUE(SameBytes(FileNow(), Published()));
}

TEST_F(RequestOrderingTest,
       OtherBytesOfASecondRequestStillRunningAfterTheFirstFailedNeverReachTheFile) {
  Race race;
  ASSERT_NO_FATAL_FAILURE(StartRace(race));
  const std::string other = OtherBytes(PublishedChunk(), 2);
  TestHttpServer& loser = Node(race.second);
  const int lost = race.second.request.id;

  // The second request gets a buffer and a half of other bytes and waits;
  // the first one breaks off.
  ASSERT_TRUE(loser.SendHeaders(lost));
  ASSERT_TRUE(loser.SendBytes(lost, other.substr(0, kBuffer + kBuffer / 2)));
  ASSERT_TRUE(Node(race.first).SendHeaders(race.first.request.id));
  ASSERT_TRUE(Node(race.first).SendBody(race.first.request.id, 0, kBuffer / 4));
  ASSERT_TRUE(Node(race.first).Close(race.first.request.id));

  // The chunk is requested again; that copy is the published one and wins.
  const std::optional<Arrival> retry = NextRequest();
  ASSERT_TRUE(retry.has_value()) << "the chunk was not requested again after its request failed";
  ASSERT_EQ(retry->request.first, kChunk);
  ASSERT_TRUE(AnswerInFull(*retry, Published()));
  ASSERT_TRUE(WaitStatus([&](const TransferStatus& s) {
    return s.completedBytes == package_.TotalSize() || Ended(s);
  }));
  // Then the still-running second request sends the rest of its copy.
  loser.SendBytes(lost, other.substr(kBuffer + kBuffer / 2, kChunk - kBuffer - kBuffer / 2 - 1));
  loser.Close(lost);

  const TransferStatus end = WaitEnd();
  EXPECT_EQ(end.state, TransferState::Completed) << ErrorName(end.error);
  EXPECT_TRUE(SameBytes(FileNow(), Published()));
}

// ---------------------------------------------------------------------------

TEST_F(RequestOrderingTest, BothCopiesOfOtherBytesFailTheTransferWithNoneOfThemInTheFile) {
  Race race;
  ASSERT_NO_FATAL_FAILURE(StartRace(race));
  const std::string chunk = PublishedChunk();
  const std::string firstCopy = OtherBytes(chunk, 3);
  TestHttpServer& first = Node(race.first);
  const int firstId = race.first.request.id;

  ASSERT_TRUE(first.SendHeaders(firstId));
  ASSERT_TRUE(first.SendBytes(firstId, firstCopy.substr(0, kMost)));
  ASSERT_TRUE(WaitReceived(kChunk + kMost)) << "the engine never took the bytes in";
  EXPECT_EQ(UnverifiedBytes(FileNow(), Published()), 0u)
      << "bytes of an unchecked copy are in the file";
  ASSERT_TRUE(Node(race.second).SendHeaders(race.second.request.id));
  ASSERT_TRUE(Node(race.second).SendBytes(race.second.request.id, OtherBytes(chunk, 4)));
  first.SendBytes(firstId, firstCopy.substr(kMost));

  // Every later request gets other bytes as well, until the engine gives up.
  unsigned seed = 5;
  std::string answer = Published();
  const auto until = Clock::now() + kBound;
  while (!Ended(Status()) && Clock::now() < until) {
    if (const std::optional<Arrival> arrival = NextRequest(50ms)) {
      ASSERT_EQ(arrival->request.first, kChunk);
      answer.replace(kChunk, kChunk, OtherBytes(chunk, seed++));
      AnswerInFull(*arrival, answer);
    }
    ASSERT_LT(seed, 100u) << "the engine does not give up on a chunk no node has";
  }
  const TransferStatus end = WaitEnd();
  EXPECT_NE(end.state, TransferState::Completed);
  EXPECT_EQ(end.error, TransferError::ChecksumMismatch) << ErrorName(end.error);
  EXPECT_TRUE(ChunksPublishedOrEmpty(FileNow(), Published(), kChunk));
}

TEST_F(RequestOrderingTest, AFirstRequestFailingWhileTheSecondRunsLeavesItToWinWithoutAThirdCopy) {
  Race race;
  ASSERT_NO_FATAL_FAILURE(StartRace(race));
  TestHttpServer& winner = Node(race.second);
  const int won = race.second.request.id;

  ASSERT_TRUE(winner.SendHeaders(won));
  ASSERT_TRUE(winner.SendBody(won, 0, kBuffer));
  ASSERT_TRUE(Node(race.first).SendHeaders(race.first.request.id));
  ASSERT_TRUE(Node(race.first).SendBody(race.first.request.id, 0, kBuffer / 4));
  ASSERT_TRUE(Node(race.first).Close(race.first.request.id));

  // What the engine starts for the chunk now, all of it held: the failed
  // request may be repeated, but not beside two copies still running. The
  // window only bounds how long the test looks; nothing else depends on it.
  std::vector<Arrival> later;
  const auto until = Clock::now() + 2s;
  for (auto now = Clock::now(); now < until; now = Clock::now()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - now);
    if (auto arrival = NextRequest(left)) later.push_back(*arrival);
  }
  int running = winner.IsOpen(won) ? 1 : 0;
  for (const Arrival& arrival : later) {
    EXPECT_EQ(arrival.request.first, kChunk);
    if (Node(arrival).IsOpen(arrival.request.id)) ++running;
  }
  EXPECT_LE(running, 2) << "copies of one chunk requested at once";

  ASSERT_TRUE(winner.SendBody(won, kBuffer, kChunk - kBuffer));
  const TransferStatus end = WaitEnd();
  EXPECT_EQ(end.state, TransferState::Completed) << ErrorName(end.error);
  EXPECT_TRUE(SameBytes(FileNow(), Published()));
}

// ---------------------------------------------------------------------------
// Every request slot of the default settings (eighteen at once, 4 MiB
// buffers within 32 MiB, so most requests stream through small buffers).

TEST_F(RequestOrderingTest, EighteenSlotsAndTheDefaultPoolKeepARacingNodesOtherBytesOut) {
  constexpr std::uint32_t kMiB = 1u << 20;
  constexpr std::size_t kSlots = 18;
  SetPackage(kMiB, kSlots + 2);
  ASSERT_NO_FATAL_FAILURE(Start(EngineSettings(16)));
  const std::string& published = Published();
  const std::string other = OtherBytes(published, 6);
  constexpr std::size_t kRacing = 0;  // node 1 is honest

  // The racing node sends three quarters of each copy at once and the rest
  // once the honest node has answered the same chunk, or when nothing else
  // is going on.
  std::vector<Arrival> held;
  const auto hold = [&](const Arrival& arrival) {
    const std::uint64_t quarters = arrival.request.Size() * 3 / 4;
    held.push_back(arrival);
    return Node(arrival).SendHeaders(arrival.request.id) &&
                   Node(arrival).SendBytes(arrival.request.id,
                                           other.substr(arrival.request.first, quarters))
               ? quarters
               : 0;
  };
  const auto release = [&](std::size_t index) {
    const Arrival arrival = held[index];
    held.erase(held.begin() + static_cast<std::ptrdiff_t>(index));
    const std::uint64_t quarters = arrival.request.Size() * 3 / 4;
    Node(arrival).SendBytes(arrival.request.id, other.substr(arrival.request.first + quarters,
                                                             arrival.request.Size() - quarters));
  };

  // First every slot's request, none of them in the tail yet (two chunks
  // are left to start). Spread over both nodes, and the pool lends only
  // eight buffers: some of the racing node's copies go through small ones.
  std::vector<Arrival> slots;
  while (slots.size() < kSlots) {
    const std::optional<Arrival> arrival = NextRequest();
    ASSERT_TRUE(arrival.has_value()) << slots.size() << " requests, not one per slot";
    slots.push_back(*arrival);
  }
  std::uint64_t racingBytes = 0;
  for (const Arrival& arrival : slots) {
    if (arrival.node == kRacing) racingBytes += hold(arrival);
  }
  ASSERT_TRUE(WaitReceived(racingBytes)) << "the engine never took the bytes in";
  EXPECT_EQ(UnverifiedBytes(FileNow(), published), 0u)
      << "bytes of unchecked copies are in the file";
  for (const Arrival& arrival : slots) {
    if (arrival.node != kRacing) AnswerInFull(arrival, published);
  }

  // Then the race, until the transfer ends.
  std::size_t unverifiedSeen = 0;
  const auto until = Clock::now() + 2 * kBound;
  while (!Ended(Status()) && Clock::now() < until) {
    if (const std::optional<Arrival> arrival = NextRequest(20ms)) {
      if (arrival->node == kRacing) {
        hold(*arrival);
        continue;
      }
      AnswerInFull(*arrival, published);
      for (std::size_t i = held.size(); i-- > 0;) {
        if (held[i].request.first == arrival->request.first) release(i);
      }
    } else if (!held.empty()) {
      if (unverifiedSeen == 0) unverifiedSeen = UnverifiedBytes(FileNow(), published);
      release(0);
    }
  }
  while (!held.empty()) release(0);

  const TransferStatus end = WaitEnd();
  EXPECT_EQ(unverifiedSeen, 0u) << "bytes of unchecked copies were in the file";
  if (end.state == TransferState::Completed) {
    EXPECT_TRUE(SameBytes(FileNow(), published));
  } else {
    EXPECT_NE(end.error, TransferError::None) << StateName(end.state);
    EXPECT_TRUE(ChunksPublishedOrEmpty(FileNow(), published, kMiB)) << ErrorName(end.error);
  }
}

TEST_F(RequestOrderingTest, AStalledChunkOfTheTailIsRequestedAgainAtOnceWhileEverySlotIsHeld) {
  constexpr std::uint32_t kSmallChunk = 64 * 1024;
  constexpr std::size_t kSlots = 18;
  SetPackage(kSmallChunk, kSlots);
  ASSERT_NO_FATAL_FAILURE(Start(EngineSettings(16)));

  // Every chunk is requested and held without a byte; the last request
  // begins the tail, which must request one of them again from the other
  // node without waiting for a slot.
  std::map<std::uint64_t, std::vector<Arrival>> byChunk;
  std::vector<Arrival> all;
  std::optional<Arrival> again;
  auto until = Clock::now() + kBound;
  // Requests reach the two nodes in any order: the second request may be
  // seen before the last first ones.
  while ((!again || byChunk.size() < kSlots) && Clock::now() < until) {
    const std::optional<Arrival> arrival = NextRequest(20ms);
    if (!arrival) continue;
    // Once every chunk is requested, the second request is due at once; the
    // bound is only there to end a failing test.
    if (byChunk.size() + 1 == kSlots && byChunk.count(arrival->request.first) == 0) {
      until = std::min(until, Clock::now() + 10s);
    }
    all.push_back(*arrival);
    std::vector<Arrival>& copies = byChunk[arrival->request.first];
    copies.push_back(*arrival);
    if (copies.size() == 2 && !again) again = arrival;
  }
  EXPECT_EQ(byChunk.size(), kSlots) << "not every chunk was requested";
  EXPECT_TRUE(again.has_value()) << "no second request while every slot was held";
  if (again) {
    const Arrival& first = byChunk[again->request.first].front();
    EXPECT_NE(again->node, first.node) << "the second request went to the same node";
    for (const auto& [offset, copies] : byChunk) {
      EXPECT_TRUE(Node(copies.front()).IsOpen(copies.front().request.id))
          << "the request of the chunk at " << offset << " had to end first";
    }
  }

  // Then everything is answered, and the transfer completes.
  for (const Arrival& arrival : all) AnswerInFull(arrival, Published());
  const auto end = Clock::now() + kBound;
  while (!Ended(Status()) && Clock::now() < end) {
    if (const std::optional<Arrival> arrival = NextRequest(20ms)) {
      AnswerInFull(*arrival, Published());
    }
  }
  const TransferStatus status = WaitEnd();
  EXPECT_EQ(status.state, TransferState::Completed) << ErrorName(status.error);
  EXPECT_TRUE(SameBytes(FileNow(), Published()));
}

// ---------------------------------------------------------------------------
// A stalled second copy.

// The last chunk's request and its second copy both stall after their
// headers: the second copy gives way to one from the third node, never beside
// two copies still running, long before any low-speed limit (here beyond the
// test's bounds) would end a stalled request.
TEST_F(RequestOrderingTest, ASecondCopyThatStallsTooGivesWayToTheThirdNode) {
  listedNodes_ = 3;
  SetPackage(kChunk, 2);
  ASSERT_NO_FATAL_FAILURE(Start(OneRaceSettings()));
  ASSERT_TRUE(ServeFirstChunk().has_value());
  std::vector<Arrival> stalled;
  while (stalled.size() < 2) {
    const std::optional<Arrival> arrival = NextRequest();
    ASSERT_TRUE(arrival.has_value()) << "the last chunk got " << stalled.size() << " requests";
    ASSERT_EQ(arrival->request.first, kChunk);
    ASSERT_TRUE(Node(*arrival).SendHeaders(arrival->request.id));
    stalled.push_back(*arrival);
  }
  ASSERT_NE(stalled[0].node, stalled[1].node);

  const std::optional<Arrival> third = NextRequest();
  ASSERT_TRUE(third.has_value()) << "no third copy while two stalled";
  EXPECT_EQ(third->request.first, kChunk);
  EXPECT_NE(third->node, stalled[0].node);
  EXPECT_NE(third->node, stalled[1].node);
  const auto running = [&] {
    int open = 0;
    for (const Arrival& arrival : stalled) open += Node(arrival).IsOpen(arrival.request.id);
    return open;
  };
  // The stalled copy it replaces is closed (the server may see that a moment
  // after the new request); the chunk's own request runs on.
  EXPECT_TRUE(test::Eventually([&] { return running() <= 1; }));
  EXPECT_EQ(running(), 1);

  ASSERT_TRUE(AnswerInFull(*third, Published()));
  const TransferStatus end = WaitEnd();
  EXPECT_EQ(end.state, TransferState::Completed) << ErrorName(end.error);
  EXPECT_TRUE(SameBytes(FileNow(), Published()));
}

}  // namespace
}  // namespace velmo
