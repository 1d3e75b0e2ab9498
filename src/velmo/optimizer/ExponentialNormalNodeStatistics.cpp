#include "velmo/optimizer/ExponentialNormalNodeStatistics.h"

namespace velmo {

ExponentialNormalNodeStatistics::ExponentialNormalNodeStatistics(
    const ExponentialNormalNodeStatistics& other)
    : NormalNodeStatistics(), smoothingFactor_(other.smoothingFactor_) {
  std::lock_guard<std::mutex> lock(other.mutex_);
  count_ = other.count_;
  mean_ = other.mean_;
  spread_ = other.spread_;
  first_ = count_ + 1;
  baseMean_ = mean_;
  baseVariance_ = spread_;
}

void ExponentialNormalNodeStatistics::Step(double& mean, double& variance, double speed) const {
  const double a = smoothingFactor_;
  const double oldMean = mean;
  mean = (1.0 - a) * oldMean + a * speed;
  variance = (speed - mean) * a * (speed - oldMean) + (1.0 - a) * variance;
}

void ExponentialNormalNodeStatistics::Push(double speed) {
  ++count_;
  Step(mean_, spread_, speed);
  history_.push_back(speed);
  if (history_.size() > kHistory) {
    Step(baseMean_, baseVariance_, history_.front());
    history_.pop_front();
    ++first_;
  }
}

void ExponentialNormalNodeStatistics::Record(std::uint64_t bytes, std::uint32_t timeMs,
                                             bool failed) {
  RecordSample(bytes, timeMs, failed, Speed(bytes, timeMs, failed));
}

std::uint32_t ExponentialNormalNodeStatistics::RecordSample(std::uint64_t bytes,
                                                            std::uint32_t timeMs, bool failed,
                                                            double speed) {
  std::lock_guard<std::mutex> lock(mutex_);
  // The base counters only: this class keeps its own moving mean in place of
  // the plain mean its parent would also update.
  NodeStatistics::Record(bytes, timeMs, failed);  // NOLINT(bugprone-parent-virtual-call)
  if (failed || !(speed > 0.0)) speed = 0.0;
  Push(speed);
  return count_;
}

void ExponentialNormalNodeStatistics::ReviseAsFailure(std::uint32_t sample, std::uint64_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  NodeStatistics::RecordChecksumFailure(bytes);
  if (sample != 0 && sample >= first_ && sample <= count_) {
    history_[sample - first_] = 0.0;
    mean_ = baseMean_;
    spread_ = baseVariance_;
    for (const double speed : history_) Step(mean_, spread_, speed);
    return;
  }
  Push(0.0);
}

std::pair<double, double> ExponentialNormalNodeStatistics::GetDistribution() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return {mean_, spread_};
}

bool ExponentialNormalNodeStatistics::LastFailed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !history_.empty() && history_.back() == 0.0;
}

}  // namespace velmo
