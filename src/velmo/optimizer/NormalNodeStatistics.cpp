#include "velmo/optimizer/NormalNodeStatistics.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace velmo {

std::uint64_t SpeedToUint64(double value) {
  if (!(value > 0.0)) {
    return 0;
  }
  if (value >= 18446744073709551616.0) {
    return std::numeric_limits<std::uint64_t>::max();
  }
  return static_cast<std::uint64_t>(value);
}

double NormalNodeStatistics::Speed(std::uint64_t bytes, std::uint32_t timeMs, bool failed) {
  if (failed) {
    return 0.0;
  }
  return static_cast<double>(bytes) * 1000.0 / std::max<std::uint32_t>(timeMs, 1);
}

void NormalNodeStatistics::Record(std::uint64_t bytes, std::uint32_t timeMs, bool failed) {
  std::lock_guard<std::mutex> lock(mutex_);
  NodeStatistics::Record(bytes, timeMs, failed);
  const double speed = Speed(bytes, timeMs, failed);
  const std::uint32_t samples = failed ? count_ / 10 + 1 : 1;
  for (std::uint32_t i = 0; i < samples; ++i) {
    ++count_;
    const double delta = speed - mean_;
    mean_ += delta / count_;
    spread_ += (speed - mean_) * delta;
  }
}

std::pair<double, double> NormalNodeStatistics::GetDistribution() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (count_ > 1) {
    return {mean_, spread_ / (count_ - 1)};
  }
  return {mean_, 1.0};
}

std::uint32_t NormalNodeStatistics::GetCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return count_;
}

void NormalNodeStatistics::Write(boost::property_tree::ptree& tree) const {
  NodeStatistics::Write(tree);
  const auto [mean, variance] = GetDistribution();
  tree.put("Average Request Speed", SpeedToUint64(mean));
  tree.put("Standard Deviation", SpeedToUint64(std::sqrt(std::max(variance, 0.0))));
}

}  // namespace velmo
