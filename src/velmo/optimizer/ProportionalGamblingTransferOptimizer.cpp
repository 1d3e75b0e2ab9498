#include "velmo/optimizer/ProportionalGamblingTransferOptimizer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <random>
#include <stdexcept>

#include "velmo/engine/RetryDelay.h"
#include "velmo/http/RetryAfter.h"
#include "velmo/optimizer/AliasTable.h"
#include "velmo/optimizer/BoxMullerNormal.h"

namespace velmo {

ProportionalGamblingTransferOptimizer::ProportionalGamblingTransferOptimizer(
    const EngineSettings& settings)
    : ProportionalGamblingTransferOptimizer(settings,
                                            std::make_unique<MersenneTwisterRandomEngine>(
                                                static_cast<std::uint32_t>(std::time(nullptr)))) {}

ProportionalGamblingTransferOptimizer::ProportionalGamblingTransferOptimizer(
    const EngineSettings& settings, std::unique_ptr<RandomEngine> engine, Clock clock)
    : TransferOptimizer(settings),
      engine_(std::move(engine)),
      clock_(std::move(clock)),
      prototype_(settings.statisticsSmoothingFactor),
      store_(11) {
  if (!engine_) {
    throw std::invalid_argument("ProportionalGamblingTransferOptimizer needs a random engine");
  }
  if (!clock_) {
    throw std::invalid_argument("ProportionalGamblingTransferOptimizer needs a clock");
  }
  store_.max_load_factor(1.0f);
}

ProportionalGamblingTransferOptimizer::Clock ProportionalGamblingTransferOptimizer::SteadyClock() {
  return [] {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
  };
}

std::shared_ptr<ExponentialNormalNodeStatistics> ProportionalGamblingTransferOptimizer::Lookup(
    const std::string& host) {
  std::lock_guard<std::mutex> lock(storeMutex_);
  auto& entry = store_[host];
  if (!entry) {
    entry = std::make_shared<ExponentialNormalNodeStatistics>(prototype_);
  }
  return entry;
}

std::shared_ptr<NodeStatistics> ProportionalGamblingTransferOptimizer::GetStatistics(
    const NodeManifest& node) {
  return Lookup(node.GetHost());
}

std::uint64_t ProportionalGamblingTransferOptimizer::WaitFor(const std::string& host,
                                                             std::uint64_t nowMs) const {
  if (nowMs >= lastNotBeforeMs_) return 0;
  const auto load = loads_.find(host);
  if (load == loads_.end() || load->second.notBeforeMs <= nowMs) return 0;
  return load->second.notBeforeMs - nowMs;
}

std::chrono::milliseconds ProportionalGamblingTransferOptimizer::BackoffDelay(
    const OptimizedRequestParams& params) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::uint64_t now = clock_();
  std::uint64_t shortest = 0;
  for (const auto& node : params.candidates) {
    const std::uint64_t wait = WaitFor(node->GetHost(), now);
    if (wait == 0) return std::chrono::milliseconds(0);
    shortest = shortest == 0 ? wait : std::min(shortest, wait);
  }
  return std::chrono::milliseconds(shortest);
}

void ProportionalGamblingTransferOptimizer::GetNode(OptimizedRequestParams& params) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (params.candidates.empty()) {
    throw std::invalid_argument("TransferOptimizer::GetNode received empty nodelist");
  }
  // The params' earlier lease, if any, is left alone: a copy of the params
  // made for a second request of the same chunk must not end the first.
  const std::uint64_t now = clock_();
  params.lease = 0;
  DropExpired(now);
  // Nodes backing off sit this one out while any other may be asked.
  std::vector<std::shared_ptr<NodeManifest>> ready;
  if (now < lastNotBeforeMs_) {
    for (const auto& node : params.candidates) {
      if (WaitFor(node->GetHost(), now) == 0) ready.push_back(node);
    }
  }
  const auto& nodes = ready.empty() ? params.candidates : ready;
  if (nodes.size() == 1) {
    AssignNode(params, nodes.front());
    Take(params, now);
    return;
  }

  std::vector<std::shared_ptr<ExponentialNormalNodeStatistics>> statistics;
  std::vector<std::uint32_t> inFlight;
  statistics.reserve(nodes.size());
  inFlight.reserve(nodes.size());
  std::vector<std::size_t> untried;
  std::vector<std::size_t> idleUnexplored;
  std::vector<std::size_t> explored;
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    const std::string& host = nodes[i]->GetHost();
    statistics.push_back(Lookup(host));
    const auto load = loads_.find(host);
    const std::uint32_t busy = load == loads_.end() ? 0 : load->second.inFlight;
    const std::uint64_t started = load == loads_.end() ? 0 : load->second.started;
    inFlight.push_back(busy);
    const std::uint32_t count = statistics[i]->GetCount();
    if (count >= 2) {
      explored.push_back(i);
    } else if (count == 0 && started == 0) {
      untried.push_back(i);
    } else if (busy == 0) {
      idleUnexplored.push_back(i);
    }
  }

  // Exploration: untried nodes first, then idle ones that need samples.
  for (const auto* group : {&untried, &idleUnexplored}) {
    if (!group->empty()) {
      const auto pick = UniformIndex(*engine_, static_cast<std::uint32_t>(group->size()));
      AssignExploringNode(params, nodes[(*group)[pick]]);
      Take(params, now);
      return;
    }
  }
  if (explored.empty()) {
    // Every node is being explored: spread the requests over them evenly.
    const std::uint32_t least = *std::min_element(inFlight.begin(), inFlight.end());
    std::vector<std::size_t> leastLoaded;
    for (std::size_t i = 0; i < nodes.size(); ++i) {
      if (inFlight[i] == least) leastLoaded.push_back(i);
    }
    const auto pick = UniformIndex(*engine_, static_cast<std::uint32_t>(leastLoaded.size()));
    AssignExploringNode(params, nodes[leastLoaded[pick]]);
    Take(params, now);
    return;
  }

  // The draw, among the explored nodes: the idle ones that deliver first.
  // Weights decide as in the draw itself: a node of weight 0 is left out
  // when any node has a weight.
  const bool anyWeight = std::any_of(explored.begin(), explored.end(),
                                     [&](std::size_t i) { return nodes[i]->GetWeight() != 0; });
  std::vector<std::size_t> pool;
  double best = 0.0;
  for (const std::size_t i : explored) {
    if (anyWeight && nodes[i]->GetWeight() == 0) continue;
    pool.push_back(i);
    best = std::max(best, statistics[i]->GetDistribution().first);
  }
  std::vector<std::size_t> idle;
  for (const std::size_t i : pool) {
    if (inFlight[i] == 0 && !statistics[i]->LastFailed() &&
        statistics[i]->GetDistribution().first * kIdleShare >= best) {
      idle.push_back(i);
    }
  }
  if (!idle.empty()) pool.swap(idle);
  if (pool.size() == 1) {
    AssignNode(params, nodes[pool.front()]);
    Take(params, now);
    return;
  }

  std::vector<std::shared_ptr<NodeManifest>> poolNodes;
  std::vector<std::shared_ptr<ExponentialNormalNodeStatistics>> poolStatistics;
  std::vector<std::uint32_t> poolInFlight;
  for (const std::size_t i : pool) {
    poolNodes.push_back(nodes[i]);
    poolStatistics.push_back(statistics[i]);
    poolInFlight.push_back(inFlight[i]);
  }
  const AliasTable table(WinProbabilities(poolNodes, poolStatistics, poolInFlight));
  AssignNode(params, poolNodes[table.Draw(*engine_)]);
  Take(params, now);
}

std::vector<double> ProportionalGamblingTransferOptimizer::EstimateWinProbabilities(
    const NodeManifestList& nodes) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::shared_ptr<ExponentialNormalNodeStatistics>> statistics;
  std::vector<std::uint32_t> inFlight;
  for (const auto& node : nodes) {
    statistics.push_back(Lookup(node->GetHost()));
    const auto load = loads_.find(node->GetHost());
    inFlight.push_back(load == loads_.end() ? 0 : load->second.inFlight);
  }
  return WinProbabilities(nodes, statistics, inFlight);
}

std::vector<double> ProportionalGamblingTransferOptimizer::WinProbabilities(
    const std::vector<std::shared_ptr<NodeManifest>>& nodes,
    const std::vector<std::shared_ptr<ExponentialNormalNodeStatistics>>& statistics,
    const std::vector<std::uint32_t>& inFlight) {
  const auto n = static_cast<std::uint32_t>(nodes.size());
  // maxTrials / n reaches 0 past maxTrials nodes; the floor keeps such a list
  // sampled, so a fast node still stands out from its weight.
  const std::uint32_t trials =
      std::max(settings_.minTrials, std::min(settings_.maxTrials / n, settings_.trialsPerNode * n));

  std::vector<BoxMullerNormal> distributions;
  distributions.reserve(n);
  for (std::uint32_t i = 0; i < n; ++i) {
    const auto [mean, variance] = statistics[i]->GetDistribution();
    // The share of the node's throughput one more request would get.
    const double share = 1.0 + inFlight[i];
    // A variance below 0 can only come from rounding; it means no spread.
    distributions.emplace_back(mean / share, std::sqrt(std::max(variance, 0.0)) / share);
  }

  std::vector<std::uint32_t> wins(n, 1);
  for (std::uint32_t trial = 0; trial < trials; ++trial) {
    double best = 0.0;
    std::uint32_t winner = 0;
    for (std::uint32_t i = 0; i < n; ++i) {
      const double sample = distributions[i].Sample(*engine_);
      if (sample > best) {
        best = sample;
        winner = i;
      }
    }
    ++wins[winner];
  }

  std::vector<double> probabilities(n);
  const double total = static_cast<double>(n) + trials;
  for (std::uint32_t i = 0; i < n; ++i) {
    probabilities[i] = wins[i] / total;
  }

  // Weights are taken only when some node has one: a node of weight 0 then
  // never wins the draw. (Testing for any weight rather than a non-zero 32-bit
  // sum, which large weights can wrap to 0.)
  const bool anyWeight = std::any_of(nodes.begin(), nodes.end(),
                                     [](const auto& node) { return node->GetWeight() != 0; });
  if (anyWeight) {
    double weighted = 0.0;
    for (std::uint32_t i = 0; i < n; ++i) {
      weighted += static_cast<std::uint32_t>(nodes[i]->GetWeight()) * probabilities[i];
    }
    for (std::uint32_t i = 0; i < n; ++i) {
      probabilities[i] =
          static_cast<std::uint32_t>(nodes[i]->GetWeight()) * probabilities[i] / weighted;
    }
  }
  return probabilities;
}

void ProportionalGamblingTransferOptimizer::AssignExploringNode(
    OptimizedRequestParams& params, std::shared_ptr<NodeManifest> node) const {
  const std::uint64_t size = ChunkSize(params);
  params.SelectedNode = std::move(node);
  params.freeRetry = true;
  params.limitsCanGrow = false;
  params.exploring = true;
  params.connectTimeout = settings_.exploreConnectTimeout;
  params.timeout =
      RequestTimeout(size, settings_.exploreMinRequestSpeed, settings_.exploreMinRequestTimeout);
  params.lowSpeedLimit = LowSpeedLimit(settings_.exploreMinRequestSpeed);
  params.lowSpeedTime = settings_.exploreLowSpeedTime;
}

ProportionalGamblingTransferOptimizer::HostLoad& ProportionalGamblingTransferOptimizer::LoadAt(
    const std::string& host, std::uint64_t nowMs) {
  HostLoad& load = loads_[host];
  if (nowMs > load.lastChangeMs) {
    load.loadIntegral +=
        static_cast<double>(load.inFlight) * static_cast<double>(nowMs - load.lastChangeMs);
    load.lastChangeMs = nowMs;
  }
  return load;
}

void ProportionalGamblingTransferOptimizer::Take(OptimizedRequestParams& params,
                                                 std::uint64_t nowMs) {
  HostLoad& load = LoadAt(params.SelectedNode->GetHost(), nowMs);
  ++load.inFlight;
  ++load.started;
  Lease lease;
  lease.host = params.SelectedNode->GetHost();
  lease.startMs = nowMs;
  lease.startIntegral = load.loadIntegral;
  // Past its connect and total timeouts (and a minute for the slack of the
  // HTTP layer) a request cannot be running any more.
  const std::uint64_t limitSeconds = static_cast<std::uint64_t>(
      std::max<std::int64_t>(std::int64_t{params.connectTimeout} + params.timeout, 0) + 60);
  lease.deadlineMs = nowMs + limitSeconds * 1000;
  params.lease = nextLease_++;
  leases_.emplace(params.lease, std::move(lease));
}

double ProportionalGamblingTransferOptimizer::End(std::uint64_t lease, std::uint64_t nowMs) {
  const auto found = leases_.find(lease);
  if (found == leases_.end()) return 0.0;
  HostLoad& load = LoadAt(found->second.host, nowMs);
  const std::uint64_t duration = nowMs > found->second.startMs ? nowMs - found->second.startMs : 0;
  const double average = duration > 0 ? (load.loadIntegral - found->second.startIntegral) /
                                            static_cast<double>(duration)
                                      : static_cast<double>(load.inFlight);
  if (load.inFlight > 0) --load.inFlight;
  leases_.erase(found);
  return std::max(average, 1.0);
}

void ProportionalGamblingTransferOptimizer::DropExpired(std::uint64_t nowMs) {
  std::vector<std::uint64_t> expired;
  for (const auto& [id, lease] : leases_) {
    if (nowMs > lease.deadlineMs) expired.push_back(id);
  }
  for (const std::uint64_t id : expired) End(id, nowMs);
}

std::uint32_t ProportionalGamblingTransferOptimizer::GetInFlight(const NodeManifest& node) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto load = loads_.find(node.GetHost());
  return load == loads_.end() ? 0 : load->second.inFlight;
}

void ProportionalGamblingTransferOptimizer::ReleaseNode(const OptimizedRequestParams& params) {
  std::lock_guard<std::mutex> lock(mutex_);
  End(params.lease, clock_());
}

void ProportionalGamblingTransferOptimizer::UpdateStatistics(
    std::unique_lock<std::mutex>& /*heldLock*/, const OptimizedRequestParams& params,
    const HttpRequestStatus& status, std::int32_t requestTimeMs) {
  const double load = End(params.lease, clock_());
  if (!params.SelectedNode) {
    return;
  }
  const std::string& host = params.SelectedNode->GetHost();
  const bool failed = IsFailure(status.result);
  const auto timeMs = static_cast<std::uint32_t>(std::max(requestTimeMs, 0));
  // The request's own speed times the requests that shared the host with it:
  // the host's throughput while it ran.
  const double speed = static_cast<double>(status.bytes) * 1000.0 /
                       std::max<std::uint32_t>(timeMs, 1) * std::max(load, 1.0);
  HostLoad& hostLoad = loads_[host];
  if (failed) {
    ++hostLoad.failures;
    const std::int32_t retryAfter = AsksToWait(status.responseCode) ? status.retryAfter : -1;
    const auto wait = RetryDelay(settings_, hostLoad.failures, retryAfter,
                                 std::uniform_real_distribution<double>(0.0, 1.0)(jitter_));
    hostLoad.notBeforeMs = clock_() + static_cast<std::uint64_t>(wait.count());
    lastNotBeforeMs_ = std::max(lastNotBeforeMs_, hostLoad.notBeforeMs);
  } else {
    hostLoad.failures = 0;
    hostLoad.notBeforeMs = 0;
  }
  const std::uint32_t sample = Lookup(host)->RecordSample(status.bytes, timeMs, failed, speed);
  if (!failed && load > 0.0) {
    completed_.push_back(Completed{params.lease, host, sample, false});
    if (completed_.size() > kCompletedKept) completed_.pop_front();
  }
}

void ProportionalGamblingTransferOptimizer::ReportChecksumFailure(
    const OptimizedRequestParams& params, std::uint64_t bytes, std::int32_t /*requestTimeMs*/) {
  std::lock_guard<std::mutex> lock(mutex_);
  // The request's own sample when it is still known (once: a second report
  // of the same chunk changes nothing); otherwise the selected node takes a
  // new failure.
  for (auto entry = completed_.rbegin(); entry != completed_.rend(); ++entry) {
    if (entry->lease == params.lease) {
      if (!entry->revised) Lookup(entry->host)->ReviseAsFailure(entry->sample, bytes);
      entry->revised = true;
      return;
    }
  }
  if (params.SelectedNode) {
    Lookup(params.SelectedNode->GetHost())->ReviseAsFailure(0, bytes);
  }
}

}  // namespace velmo
