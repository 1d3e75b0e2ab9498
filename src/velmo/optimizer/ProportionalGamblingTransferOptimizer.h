#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "velmo/optimizer/ExponentialNormalNodeStatistics.h"
#include "velmo/optimizer/RandomEngine.h"
#include "velmo/optimizer/TransferOptimizer.h"

namespace velmo {

// Picks nodes by proportional gambling, knowing how many requests each host
// has in flight.
//
// Exploration comes first: a node never tried is chosen before any other,
// then a node with fewer than two speed samples and no request in flight, one
// chosen uniformly each time; so every node is tried at once and none gets a
// second exploring request while another is untried. While every node that
// still needs samples has a request in flight, the explored nodes are drawn
// from; when none is explored yet, the least loaded node explores again.
//
// The speed model of a host is its throughput across all of its requests:
// each request's own speed times the average number of the host's requests in
// flight while it ran. A node whose capacity is shared by its connections
// thus reads as that capacity, however many requests share it. A host with
// no request in flight whose last request succeeded is drawn before the busy
// ones (among themselves by the draw below), unless it delivers less than
// 1/kIdleShare of the best host: each node that works is kept busy, so each
// serves bytes in proportion to its capacity.
//
// A host whose request failed is not chosen for a while (RetryDelay: a
// backoff growing with its consecutive failures, lengthened by a Retry-After
// of a 429 or 503), unless every candidate is waiting; BackoffDelay tells a
// request how long that lasts. A success ends the backoff.
//
// The draw: each node's chance of being the fastest for one more request is
// estimated by sampling a normal model of its throughput divided by its
// requests in flight plus one, a bounded number of times (at least
// minTrials, however long the list); weighted by the node's weight, a node is
// drawn in proportion.
//
// Threads: as TransferOptimizer; engine_, the clock, the in-flight counts and
// the leases are used only under mutex_. The store of statistics has its own
// storeMutex_ (taken after mutex_, before any statistics mutex), so
// GetStatistics may be called from a report thread while a decision runs.
class ProportionalGamblingTransferOptimizer : public TransferOptimizer {
 public:
  // Milliseconds of a monotonic clock; tests pass a simulated one.
  using Clock = std::function<std::uint64_t()>;

  // An idle node is preferred while it delivers at least 1/kIdleShare of the
  // best node's throughput: a slower node's chunk would hold up the end.
  static constexpr double kIdleShare = 32.0;

  // Seeds a Mersenne Twister with the current calendar time in seconds.
  explicit ProportionalGamblingTransferOptimizer(const EngineSettings& settings);
  ProportionalGamblingTransferOptimizer(const EngineSettings& settings,
                                        std::unique_ptr<RandomEngine> engine,
                                        Clock clock = SteadyClock());

  void GetNode(OptimizedRequestParams& params) override;
  void ReleaseNode(const OptimizedRequestParams& params) override;
  std::chrono::milliseconds BackoffDelay(const OptimizedRequestParams& params) override;
  void ReportChecksumFailure(const OptimizedRequestParams& params, std::uint64_t bytes,
                             std::int32_t requestTimeMs) override;

  // The statistics of the node's host, created (with no samples) when missing.
  std::shared_ptr<NodeStatistics> GetStatistics(const NodeManifest& node) override;

  // Requests counted against the node's host now.
  std::uint32_t GetInFlight(const NodeManifest& node) const;

  static Clock SteadyClock();

 protected:
  void UpdateStatistics(std::unique_lock<std::mutex>& heldLock,
                        const OptimizedRequestParams& params, const HttpRequestStatus& status,
                        std::int32_t requestTimeMs) override;

  // The exploring limits: short connect and low-speed times, a request timeout
  // sized for the higher exploring speed, and a retry that costs nothing.
  void AssignExploringNode(OptimizedRequestParams& params,
                           std::shared_ptr<NodeManifest> node) const;

  // The weighted win probabilities that a decision over `nodes` would draw
  // from, with the requests in flight now, consuming the random engine as
  // that decision would.
  std::vector<double> EstimateWinProbabilities(const NodeManifestList& nodes);

 private:
  // What the optimizer knows of a host's requests in flight.
  struct HostLoad {
    std::uint32_t inFlight = 0;
    std::uint64_t started = 0;
    // Integral of inFlight over time up to lastChangeMs, in requests x ms.
    double loadIntegral = 0.0;
    std::uint64_t lastChangeMs = 0;
    std::uint32_t failures = 0;     // consecutive failed requests
    std::uint64_t notBeforeMs = 0;  // not chosen before, while another node can be
  };
  // One request counted against its host.
  struct Lease {
    std::string host;
    std::uint64_t startMs = 0;
    double startIntegral = 0.0;
    std::uint64_t deadlineMs = 0;
  };
  // A request reported a success recently: its sample, should its chunk fail.
  struct Completed {
    std::uint64_t lease = 0;
    std::string host;
    std::uint32_t sample = 0;
    bool revised = false;
  };
  static constexpr std::size_t kCompletedKept = 1024;

  std::shared_ptr<ExponentialNormalNodeStatistics> Lookup(const std::string& host);

  // The host's load with its integral brought up to `nowMs`. Call with mutex_.
  HostLoad& LoadAt(const std::string& host, std::uint64_t nowMs);
  // Counts a request of params' selected node. Call with mutex_.
  void Take(OptimizedRequestParams& params, std::uint64_t nowMs);
  // Ends the lease and returns the average number of the host's requests in
  // flight while it ran (at least 1); 0 when the lease is not counted. Call
  // with mutex_.
  double End(std::uint64_t lease, std::uint64_t nowMs);
  // Milliseconds until the host may be asked again (0: now). Call with mutex_.
  std::uint64_t WaitFor(const std::string& host, std::uint64_t nowMs) const;
  // Ends leases whose requests are past their own time limits. Call with mutex_.
  void DropExpired(std::uint64_t nowMs);

  // Win probability of each node by sampling, then weighted. Call with mutex_.
  std::vector<double> WinProbabilities(
      const std::vector<std::shared_ptr<NodeManifest>>& nodes,
      const std::vector<std::shared_ptr<ExponentialNormalNodeStatistics>>& statistics,
      const std::vector<std::uint32_t>& inFlight);

  std::unique_ptr<RandomEngine> engine_;
  Clock clock_;
  const ExponentialNormalNodeStatistics prototype_;
  std::mutex storeMutex_;
  std::unordered_map<std::string, std::shared_ptr<ExponentialNormalNodeStatistics>> store_;
  std::unordered_map<std::string, HostLoad> loads_;
  std::unordered_map<std::uint64_t, Lease> leases_;
  std::uint64_t nextLease_ = 1;
  // The backoffs' jitter, apart from engine_ so that it leaves the draws alone.
  std::minstd_rand jitter_{std::random_device{}()};
  std::uint64_t lastNotBeforeMs_ = 0;  // the latest backoff of any host: none waits past it
  std::deque<Completed> completed_;
};

}  // namespace velmo
