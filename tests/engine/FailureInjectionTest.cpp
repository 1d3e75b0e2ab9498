// Fail-at-step-N runs of the whole engine: the Nth operation of the file
// layer, or the Nth HTTP request, fails once, for N = 1, 2, ... until a run
// has fewer than N operations. Every run must end complete with the published
// bytes, or with a clear error from which the transfer is retried or resumed
// (without the failure) to the published bytes, keeping the chunks it had
// verified. Nothing may hang: every wait has a bound.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/EngineWait.h"
#include "support/FailingHttpRequestFactory.h"
#include "support/FailingSharedFileFactory.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"
#include "support/TestPackage.h"
#include "velmo/engine/TransferEngine.h"
#include "velmo/transfer/Transfer.h"

namespace velmo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::FailAtStep;
using test::FailingHttpRequestFactory;
using test::FailingSharedFileFactory;
using test::ReadFile;
using test::TempDir;
using test::TestHttpServer;
using test::TestPackage;

constexpr std::uint32_t kChunkSize = 1024;
// Far above the steps a run of the package below takes (a few dozen file
// operations, a dozen requests): reaching it means the loop would not end.
constexpr std::uint64_t kMaxSteps = 400;

// What one run with an injected failure ended in, for the summary.
struct RunOutcome {
  bool injected = false;
  bool completed = false;
  TransferError error = TransferError::None;
  std::uint64_t steps = 0;
  std::string recovery;  // how an error was recovered from (see Recover)
};

// One layer under test: how to put its failing double into an engine, and
// what the double saw.
struct FailingLayer {
  std::function<void(LayerDecorators&, std::uint64_t failAt)> install;
  std::function<const FailAtStep&()> steps;
  std::function<std::string()> injected;  // what was failed, empty for nothing
  // The errors a failure of the layer may end a transfer with.
  std::set<TransferError> errors;
};

class FailureInjectionTest : public ::testing::Test {
 protected:
  FailureInjectionTest() {
    package_.run = "bin/program";
    package_.chunkSize = kChunkSize;
    package_.AddFile("bin/program", 2 * kChunkSize - 100, 1);  // 2 chunks
    package_.AddFile("data/a.bin", 4 * kChunkSize, 2);         // 4 chunks
    package_.AddFile("data/b.bin", 3 * kChunkSize - 1, 3);     // 3 chunks
    package_.Serve(manifests_, {&nodes_[0], &nodes_[1]});
  }

  EngineSettings Settings() const {
    EngineSettings settings(2);
    settings.manifestHost = manifests_.Host();
    settings.manifestConnectTimeout = 2;
    settings.manifestTimeout = 10;
    settings.minConnectTimeout = 2;
    settings.exploreConnectTimeout = 2;
    settings.logsFolder = "velmo-test/logs";
    settings.transfersFolder = "velmo-test/transfers";
    return settings;
  }

  std::unique_ptr<TransferEngine> MakeEngine(const LayerDecorators& decorators = {}) {
    return std::make_unique<TransferEngine>(
        Settings(), AnalyticsEndpoints{analytics_.Url("/events"), analytics_.Url("/transfers")},
        decorators);
  }

  // Polls until `done` holds, or fails the test after a generous bound: a
  // transfer that stops moving is a hang, however the failure came about.
  template <typename Predicate>
  TransferStatus WaitFor(TransferEngine& engine, const std::string& id, Predicate done) {
    const TransferStatus status = test::PollStatus(engine, id, done, 60s, 5ms);
    EXPECT_TRUE(done(status)) << "no end after 60 s: state " << StateName(status.state) << " error "
                              << ErrorName(status.error) << " " << status.errorCause;
    return status;
  }

  // The end of a run: final, or waiting with an error for a retry.
  static bool Ended(const TransferStatus& s) {
    return IsFinal(s) || s.error != TransferError::None;
  }

  // Creates the transfer and, once initialized, starts it into dest; returns
  // how it ended (see Ended).
  TransferStatus Download(TransferEngine& engine, const std::string& dest, std::string* id) {
    const TransferStatus created =
        engine.CreateTransfer(package_.partnerId, package_.packageId, "?");
    *id = created.transferId;
    if (Ended(created)) return created;
    TransferStatus status = WaitFor(engine, *id, [](const TransferStatus& s) {
      return s.state == TransferState::Initialized || Ended(s);
    });
    if (status.state != TransferState::Initialized) return status;
    status = engine.StartTransfer(*id, dest);
    if (Ended(status)) return status;
    return WaitFor(engine, *id, Ended);
  }

  // Every file of the package, byte for byte.
  void ExpectPublishedBytes(const std::string& dest) {
    for (const auto& [path, contents] : package_.files) {
      EXPECT_TRUE(ReadFile(dest + "/" + path) == contents) << path << " differs";
    }
  }

  // The chunks in dest that hold the published bytes already, by node path
  // and first byte.
  std::set<std::pair<std::string, std::uint64_t>> WholeChunksOnDisk(const std::string& dest) const {
    std::set<std::pair<std::string, std::uint64_t>> whole;
    for (const auto& [path, contents] : package_.files) {
      const std::string disk = ReadFile(dest + "/" + path);
      for (std::size_t at = 0; at < contents.size(); at += kChunkSize) {
        const std::string chunk = contents.substr(at, kChunkSize);
        if (disk.size() >= at + chunk.size() && disk.compare(at, chunk.size(), chunk) == 0) {
          whole.emplace(package_.NodePath(path), at);
        }
      }
    }
    return whole;
  }

  // How many requests each node has had.
  std::vector<std::size_t> RequestCounts() const {
    std::vector<std::size_t> counts;
    for (const auto& node : nodes_) counts.push_back(node.Requests().size());
    return counts;
  }

  // Fails for every request after `before` that asked for a chunk of `whole`.
  void ExpectNoneFetchedAgain(const std::set<std::pair<std::string, std::uint64_t>>& whole,
                              const std::vector<std::size_t>& before) {
    for (std::size_t i = 0; i < before.size(); ++i) {
      const std::vector<TestHttpServer::Request> requests = nodes_[i].Requests();
      for (std::size_t r = before[i]; r < requests.size(); ++r) {
        const std::string& range = requests[r].range;  // "bytes=first-last"
        const std::size_t eq = range.find('=');
        if (eq == std::string::npos) continue;
        const std::uint64_t first = std::stoull(range.substr(eq + 1));
        EXPECT_EQ(whole.count({requests[r].path, first}), 0u)
            << "the whole chunk at " << first << " of " << requests[r].path << " was fetched again";
      }
    }
  }

  // Brings a transfer that ended in `failed` to completion without injected
  // failures: a retry in the same engine when the error allows one, else a
  // new engine that resumes the stored transfer, or starts a new one into
  // the same folder when nothing resumable was kept. The chunks already
  // whole on disk stay: none of them is asked for again.
  // Returns which way it took: "retried", "resumed" or "restarted".
  std::string Recover(std::unique_ptr<TransferEngine> engine, const std::string& id,
                      const TransferStatus& failed, const std::string& dest) {
    std::string way;
    std::vector<std::size_t> requestsBefore = RequestCounts();
    std::set<std::pair<std::string, std::uint64_t>> whole = WholeChunksOnDisk(dest);
    TransferStatus status;
    if (!IsFinal(failed) && failed.retryable) {
      way = "retried";
      auto transfer = engine->GetTransferManager().Find(id, engine->GetBehavior());
      EXPECT_NE(transfer, nullptr);
      if (!transfer) return way;
      transfer->Retry();
      status = WaitFor(*engine, id, Ended);
      // A Retry that lands while initializing leaves it ready, not started.
      if (status.state == TransferState::Initialized) {
        engine->StartTransfer(id, dest);
        status = WaitFor(*engine, id, Ended);
      }
    } else {
      // The failed engine's last works end with it; what they fetched counts
      // as theirs.
      engine.reset();
      // Requests the old engine sent before it went are its own, also those
      // the nodes read only now.
      for (auto& node : nodes_) EXPECT_TRUE(node.WaitIdle(std::chrono::seconds(10)));
      requestsBefore = RequestCounts();
      whole = WholeChunksOnDisk(dest);
      engine = MakeEngine();
      std::shared_ptr<Transfer> transfer;
      if (!id.empty()) transfer = engine->GetTransferManager().Find(id, engine->GetBehavior());
      if (transfer && transfer->GetStatus().state == TransferState::Suspended) {
        way = "resumed";
        EXPECT_EQ(transfer->Restore().state, TransferState::Initializing);
        status = WaitFor(*engine, id, [](const TransferStatus& s) {
          return s.state == TransferState::Initialized || Ended(s);
        });
        if (status.state == TransferState::Initialized) {
          EXPECT_EQ(engine->StartTransfer(id, "").state, TransferState::Transferring);
          status = WaitFor(*engine, id, Ended);
        }
      } else {
        way = "restarted";
        std::string newId;
        status = Download(*engine, dest, &newId);
      }
    }
    EXPECT_EQ(status.state, TransferState::Completed)
        << StateName(status.state) << " " << ErrorName(status.error) << " " << status.errorCause;
    ExpectPublishedBytes(dest);
    ExpectNoneFetchedAgain(whole, requestsBefore);
    return way;
  }

  // One run with step `failAt` of `layer` failing.
  RunOutcome RunOnce(const FailingLayer& layer, std::uint64_t failAt) {
    TempDir temp;  // TMPDIR for the stored transfers and the work log
    const std::string dest = temp / "dest";
    fs::create_directories(dest);
    if (leftBehind_) LeaveEarlierDownload(dest);
    LayerDecorators decorators;
    layer.install(decorators, failAt);
    auto engine = MakeEngine(decorators);
    std::string id;
    const TransferStatus status = Download(*engine, dest, &id);
    RunOutcome outcome;
    outcome.error = status.error;
    const std::string injected = layer.injected();
    SCOPED_TRACE("failing step " + std::to_string(failAt) + ": " +
                 (injected.empty() ? std::string("none") : injected));
    if (status.state == TransferState::Completed) {
      outcome.completed = true;
      EXPECT_EQ(status.error, TransferError::None);
      EXPECT_EQ(status.completedBytes, package_.TotalSize());
      ExpectPublishedBytes(dest);
      engine.reset();
    } else {
      EXPECT_FALSE(injected.empty())
          << "a run without a failure did not complete: " << StateName(status.state) << " "
          << status.errorCause;
      EXPECT_NE(status.error, TransferError::None) << StateName(status.state);
      EXPECT_FALSE(status.errorCause.empty()) << ErrorName(status.error);
      EXPECT_TRUE(layer.errors.count(status.error) != 0)
          << "unexpected kind " << ErrorName(status.error) << ": " << status.errorCause;
      outcome.recovery = Recover(std::move(engine), id, status, dest);
    }
    // Read once the engine is gone: its teardown uses the layers too.
    outcome.injected = layer.steps().Injected();
    outcome.steps = layer.steps().Steps();
    return outcome;
  }

  // N = 1, 2, ... until a run sees no failure.
  void Loop(const FailingLayer& layer) {
    std::vector<RunOutcome> outcomes;
    for (std::uint64_t n = 1; n <= kMaxSteps; ++n) {
      outcomes.push_back(RunOnce(layer, n));
      // The first step that goes wrong is the one to read; later ones add noise.
      if (!outcomes.back().injected || HasFailure()) break;
    }
    if (HasFailure()) return;
    EXPECT_FALSE(outcomes.back().injected) << "still failing steps after " << kMaxSteps;
    int completed = 0;
    std::map<std::string, int> errors;
    for (const RunOutcome& outcome : outcomes) {
      if (outcome.completed) ++completed;
      if (!outcome.completed) {
        ++errors[std::string(ErrorName(outcome.error)) + "/" + outcome.recovery];
      }
    }
    std::string summary;
    for (const auto& [name, count] : errors) summary += name + "=" + std::to_string(count) + " ";
    // A package this size must give the loop something to do.
    EXPECT_GT(outcomes.size(), 5u);
    RecordProperty("runs", std::to_string(outcomes.size()));
    RecordProperty("stepsOfACleanRun", std::to_string(outcomes.back().steps));
    RecordProperty("completedDespiteTheFailure", std::to_string(completed));
    RecordProperty("endedInError", summary);
  }

  // Every file as an earlier run cut short left it: whole, but with one
  // chunk of zeros that the transfer must find and fetch again.
  void LeaveEarlierDownload(const std::string& dest) const {
    for (const auto& [path, contents] : package_.files) {
      std::string left = contents;
      const std::size_t chunk = (left.size() / kChunkSize) / 2;
      left.replace(chunk * kChunkSize, kChunkSize, std::string(kChunkSize, '\0'));
      left.resize(contents.size());
      fs::create_directories(fs::path(dest + "/" + path).parent_path());
      std::ofstream(dest + "/" + path, std::ios::binary) << left;
    }
  }

  bool leftBehind_ = false;  // runs start from LeaveEarlierDownload
  TestPackage package_;
  TestHttpServer manifests_;
  TestHttpServer analytics_;
  TestHttpServer nodes_[2];
};

// The file layer as a transfer meets it, with the work log left out: it
// writes on its own schedule and a failed log line loses no download, so
// counting it would only lengthen the loop.
FailingLayer FileLayer(std::shared_ptr<FailingSharedFileFactory>& files) {
  FailingLayer layer;
  layer.install = [&files](LayerDecorators& decorators, std::uint64_t failAt) {
    decorators.files = [&files, failAt](SharedFileFactory& real) {
      files = std::make_shared<FailingSharedFileFactory>(
          real, failAt, [](const std::string&, const std::string& relativePath) {
            return relativePath.rfind("velmo-test/logs/", 0) != 0;
          });
      return files;
    };
  };
  layer.steps = [&files]() -> const FailAtStep& { return files->Steps(); };
  layer.injected = [&files] { return files->InjectedOperation(); };
  layer.errors = {TransferError::FileError, TransferError::FileAccessError,
                  TransferError::InsufficientDiskSpace};
  return layer;
}

TEST_F(FailureInjectionTest, EveryFileOperationMayFailOnce) {
  std::shared_ptr<FailingSharedFileFactory> files;
  Loop(FileLayer(files));
}

TEST_F(FailureInjectionTest, EveryFileOperationMayFailOnceWhileEarlierFilesAreChecked) {
  // The chunks already on disk are read back and checked (ReadAt) before any
  // is fetched: those reads may fail too.
  leftBehind_ = true;
  std::shared_ptr<FailingSharedFileFactory> files;
  Loop(FileLayer(files));
}

TEST_F(FailureInjectionTest, EveryRequestMayFailOnce) {
  std::shared_ptr<FailingHttpRequestFactory> requests;
  FailingLayer layer;
  layer.install = [&requests](LayerDecorators& decorators, std::uint64_t failAt) {
    decorators.requests = [&requests, failAt](HttpRequestFactory& real, HttpProxyFactory& proxies) {
      requests = std::make_shared<FailingHttpRequestFactory>(real, proxies, failAt);
      return requests;
    };
  };
  layer.steps = [&requests]() -> const FailAtStep& { return requests->Steps(); };
  layer.injected = [&requests] { return requests->InjectedUrl(); };
  layer.errors = {TransferError::ConnectionError};
  Loop(layer);
}

}  // namespace
}  // namespace velmo
