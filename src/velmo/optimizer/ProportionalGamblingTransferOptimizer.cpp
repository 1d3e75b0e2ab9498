#include "velmo/optimizer/ProportionalGamblingTransferOptimizer.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <stdexcept>

#include "velmo/optimizer/AliasTable.h"
#include "velmo/optimizer/BoxMullerNormal.h"

namespace velmo {

ProportionalGamblingTransferOptimizer::ProportionalGamblingTransferOptimizer(
    const EngineSettings& settings)
    : ProportionalGamblingTransferOptimizer(settings,
                                            std::make_unique<MersenneTwisterRandomEngine>(
                                                static_cast<std::uint32_t>(std::time(nullptr)))) {}

ProportionalGamblingTransferOptimizer::ProportionalGamblingTransferOptimizer(
    const EngineSettings& settings, std::unique_ptr<RandomEngine> engine)
    : TransferOptimizer(settings),
      engine_(std::move(engine)),
      prototype_(settings.statisticsSmoothingFactor),
      store_(11) {
  if (!engine_) {
    throw std::invalid_argument("ProportionalGamblingTransferOptimizer needs a random engine");
  }
  store_.max_load_factor(1.0f);
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

void ProportionalGamblingTransferOptimizer::GetNode(OptimizedRequestParams& params) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto& nodes = params.candidates;
  if (nodes.empty()) {
    throw std::invalid_argument("TransferOptimizer::GetNode received empty nodelist");
  }
  if (nodes.size() == 1) {
    AssignNode(params, nodes.front());
    return;
  }

  std::vector<std::shared_ptr<ExponentialNormalNodeStatistics>> statistics;
  statistics.reserve(nodes.size());
  for (const auto& node : nodes) {
    statistics.push_back(Lookup(node->GetHost()));
  }

  std::vector<std::size_t> unexplored;
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    if (statistics[i]->GetCount() < 2) {
      unexplored.push_back(i);
    }
  }
  if (!unexplored.empty()) {
    const auto pick = UniformIndex(*engine_, static_cast<std::uint32_t>(unexplored.size()));
    AssignExploringNode(params, nodes[unexplored[pick]]);
    return;
  }

  const AliasTable table(WinProbabilities(nodes, statistics));
  AssignNode(params, nodes[table.Draw(*engine_)]);
}

std::vector<double> ProportionalGamblingTransferOptimizer::EstimateWinProbabilities(
    const NodeManifestList& nodes) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::shared_ptr<ExponentialNormalNodeStatistics>> statistics;
  for (const auto& node : nodes) {
    statistics.push_back(Lookup(node->GetHost()));
  }
  return WinProbabilities(nodes, statistics);
}

std::vector<double> ProportionalGamblingTransferOptimizer::WinProbabilities(
    const std::vector<std::shared_ptr<NodeManifest>>& nodes,
    const std::vector<std::shared_ptr<ExponentialNormalNodeStatistics>>& statistics) {
  const auto n = static_cast<std::uint32_t>(nodes.size());
  const std::uint32_t trials = std::min(settings_.maxTrials / n, settings_.trialsPerNode * n);

  std::vector<BoxMullerNormal> distributions;
  distributions.reserve(n);
  for (const auto& entry : statistics) {
    const auto [mean, variance] = entry->GetDistribution();
    // A variance below 0 can only come from rounding; it means no spread.
    distributions.emplace_back(mean, std::sqrt(std::max(variance, 0.0)));
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

void ProportionalGamblingTransferOptimizer::UpdateStatistics(
    std::unique_lock<std::mutex>& /*heldLock*/, const OptimizedRequestParams& params,
    const HttpRequestStatus& status, std::int32_t requestTimeMs) {
  if (!params.SelectedNode) {
    return;
  }
  Lookup(params.SelectedNode->GetHost())
      ->Record(status.bytes, static_cast<std::uint32_t>(std::max(requestTimeMs, 0)),
               IsFailure(status.result));
}

}  // namespace velmo
