#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "velmo/optimizer/ExponentialNormalNodeStatistics.h"
#include "velmo/optimizer/RandomEngine.h"
#include "velmo/optimizer/TransferOptimizer.h"

namespace velmo {

// Picks nodes by proportional gambling. Nodes with fewer than two speed
// samples are explored first, one chosen uniformly. Otherwise each node's
// chance of being the fastest is estimated by sampling its normal speed model
// a bounded number of times, weighted by the node's weight, and a node is
// drawn in proportion. Speed statistics are kept per host, so nodes that share
// a host share them.
//
// Threads: as TransferOptimizer; engine_ is used only under mutex_. The store
// of statistics has its own storeMutex_ (taken after mutex_, before any
// statistics mutex), so GetStatistics may be called from a report thread while
// a decision runs.
class ProportionalGamblingTransferOptimizer : public TransferOptimizer {
 public:
  // Seeds a Mersenne Twister with the current calendar time in seconds.
  explicit ProportionalGamblingTransferOptimizer(const EngineSettings& settings);
  ProportionalGamblingTransferOptimizer(const EngineSettings& settings,
                                        std::unique_ptr<RandomEngine> engine);

  void GetNode(OptimizedRequestParams& params) override;

  // The statistics of the node's host, created (with no samples) when missing.
  std::shared_ptr<NodeStatistics> GetStatistics(const NodeManifest& node) override;

 protected:
  void UpdateStatistics(std::unique_lock<std::mutex>& heldLock,
                        const OptimizedRequestParams& params, const HttpRequestStatus& status,
                        std::int32_t requestTimeMs) override;

  // The exploring limits: short connect and low-speed times, a request timeout
  // sized for the higher exploring speed, and a retry that costs nothing.
  void AssignExploringNode(OptimizedRequestParams& params,
                           std::shared_ptr<NodeManifest> node) const;

  // The weighted win probabilities that a decision over `nodes` would draw
  // from, consuming the random engine as that decision would.
  std::vector<double> EstimateWinProbabilities(const NodeManifestList& nodes);

 private:
  std::shared_ptr<ExponentialNormalNodeStatistics> Lookup(const std::string& host);

  // Win probability of each node by sampling, then weighted. Call with mutex_.
  std::vector<double> WinProbabilities(
      const std::vector<std::shared_ptr<NodeManifest>>& nodes,
      const std::vector<std::shared_ptr<ExponentialNormalNodeStatistics>>& statistics);

  std::unique_ptr<RandomEngine> engine_;
  const ExponentialNormalNodeStatistics prototype_;
  std::mutex storeMutex_;
  std::unordered_map<std::string, std::shared_ptr<ExponentialNormalNodeStatistics>> store_;
};

}  // namespace velmo
