#include "velmo/optimizer/ExponentialNormalNodeStatistics.h"

namespace velmo {

ExponentialNormalNodeStatistics::ExponentialNormalNodeStatistics(
    const ExponentialNormalNodeStatistics& other)
    : NormalNodeStatistics(), smoothingFactor_(other.smoothingFactor_) {
  std::lock_guard<std::mutex> lock(other.mutex_);
  count_ = other.count_;
  mean_ = other.mean_;
  spread_ = other.spread_;
}

void ExponentialNormalNodeStatistics::Record(std::uint64_t bytes, std::uint32_t timeMs,
                                             bool failed) {
  std::lock_guard<std::mutex> lock(mutex_);
  NodeStatistics::Record(bytes, timeMs, failed);
  const double speed = Speed(bytes, timeMs, failed);
  const double a = smoothingFactor_;
  const double oldMean = mean_;
  ++count_;
  mean_ = (1.0 - a) * oldMean + a * speed;
  spread_ = (speed - mean_) * a * (speed - oldMean) + (1.0 - a) * spread_;
}

std::pair<double, double> ExponentialNormalNodeStatistics::GetDistribution() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return {mean_, spread_};
}

}  // namespace velmo
