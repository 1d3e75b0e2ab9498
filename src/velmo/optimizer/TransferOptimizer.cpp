#include "velmo/optimizer/TransferOptimizer.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "velmo/optimizer/NodeStatistics.h"

namespace velmo {

TransferOptimizer::TransferOptimizer(const EngineSettings& settings)
    : settings_(settings),
      adaptiveConnectTimeout_(settings.minConnectTimeout),
      adaptiveLowSpeedTime_(settings.minLowSpeedTime) {}

bool TransferOptimizer::IsFailure(HttpRequestResult result) {
  switch (result) {
    case HttpRequestResult::NotStarted:
    case HttpRequestResult::Running:
    case HttpRequestResult::Success:
    case HttpRequestResult::Canceled:
      return false;
    default:
      return true;
  }
}

void TransferOptimizer::ReportResult(const OptimizedRequestParams& params,
                                     const HttpRequestStatus& status, std::int32_t requestTimeMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!params.exploring) {
    if (status.result == HttpRequestResult::Success) {
      adaptiveConnectTimeout_ = std::max(adaptiveConnectTimeout_ - 1, settings_.minConnectTimeout);
      adaptiveLowSpeedTime_ = std::max(adaptiveLowSpeedTime_ - 1, settings_.minLowSpeedTime);
    } else if (status.result == HttpRequestResult::Timeout) {
      // Doubling in 64 bits: the caps are configuration, the limits must not wrap.
      adaptiveConnectTimeout_ = static_cast<std::int32_t>(std::min<std::int64_t>(
          2 * std::int64_t{adaptiveConnectTimeout_}, settings_.maxConnectTimeout));
      adaptiveLowSpeedTime_ = static_cast<std::int32_t>(std::min<std::int64_t>(
          2 * std::int64_t{adaptiveLowSpeedTime_}, settings_.maxLowSpeedTime));
    }
  }
  UpdateStatistics(lock, params, status, requestTimeMs);
}

std::shared_ptr<NodeStatistics> TransferOptimizer::GetStatistics(const NodeManifest& node) {
  return node.GetStatistics();
}

std::int32_t TransferOptimizer::GetAdaptiveConnectTimeout() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return adaptiveConnectTimeout_;
}

std::int32_t TransferOptimizer::GetAdaptiveLowSpeedTime() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return adaptiveLowSpeedTime_;
}

std::uint64_t TransferOptimizer::ChunkSize(const OptimizedRequestParams& params) {
  if (!params.ChunkData) {
    throw std::invalid_argument("TransferOptimizer::GetNode received no ChunkData");
  }
  return params.ChunkData->upperBound - params.ChunkData->lowerBound + 1;
}

std::int32_t TransferOptimizer::RequestTimeout(std::uint64_t size, std::int32_t speed,
                                               std::int32_t floor) const {
  const std::uint64_t threads = std::max<std::uint32_t>(settings_.transferThreadCount, 1);
  const std::uint64_t perSecond = static_cast<std::uint64_t>(std::max<std::int32_t>(speed, 1));
  constexpr std::uint64_t kMax = std::numeric_limits<std::int32_t>::max();
  const std::uint64_t seconds = size > std::numeric_limits<std::uint64_t>::max() / threads
                                    ? kMax
                                    : size * threads / perSecond;
  return static_cast<std::int32_t>(
      std::max<std::int64_t>(static_cast<std::int64_t>(std::min(seconds, kMax)), floor));
}

std::int32_t TransferOptimizer::LowSpeedLimit(std::int32_t speed) const {
  const std::int64_t threads = std::max<std::uint32_t>(settings_.transferThreadCount, 1);
  return static_cast<std::int32_t>(speed / threads);
}

void TransferOptimizer::AssignNode(OptimizedRequestParams& params,
                                   std::shared_ptr<NodeManifest> node) const {
  const std::uint64_t size = ChunkSize(params);
  params.SelectedNode = std::move(node);
  params.freeRetry = false;
  params.exploring = false;
  params.limitsCanGrow = adaptiveConnectTimeout_ < settings_.maxConnectTimeout ||
                         adaptiveLowSpeedTime_ < settings_.maxLowSpeedTime;
  params.connectTimeout = adaptiveConnectTimeout_;
  params.lowSpeedTime = adaptiveLowSpeedTime_;
  params.timeout = RequestTimeout(size, settings_.minRequestSpeed, settings_.minRequestTimeout);
  params.lowSpeedLimit = LowSpeedLimit(settings_.minRequestSpeed);
}

}  // namespace velmo
