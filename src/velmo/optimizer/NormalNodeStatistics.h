#pragma once

#include <mutex>
#include <utility>

#include "velmo/optimizer/NodeStatistics.h"

namespace velmo {

// Request counters plus a normal model of the node's speed (bytes per second),
// fed by every request: a success enters its speed once, a failure enters as
// count / 10 + 1 samples of speed 0, so a node that fails keeps losing weight
// however fast it once was. Mean and spread follow Welford's running method.
//
// Threads: Record, GetDistribution, GetCount and Write from any thread.
// mutex_ guards count_, mean_ and spread_; it is taken after the optimizer's
// own mutex, never before. The inherited counters are lock-free.
class NormalNodeStatistics : public NodeStatistics {
 public:
  NormalNodeStatistics() = default;

  // The base keys, with "Average Request Speed" replaced by the mean of the
  // distribution and "Standard Deviation" added, both as whole numbers.
  void Write(boost::property_tree::ptree& tree) const override;
  void Record(std::uint64_t bytes, std::uint32_t timeMs, bool failed) override;

  // (mean, variance) of the speed; the variance is 1.0 until two samples exist.
  virtual std::pair<double, double> GetDistribution() const;

  // Number of speed samples taken in.
  std::uint32_t GetCount() const;

 protected:
  // Speed of one request in bytes per second: 0 for a failure.
  static double Speed(std::uint64_t bytes, std::uint32_t timeMs, bool failed);

  mutable std::mutex mutex_;
  std::uint32_t count_ = 0;
  double mean_ = 0.0;
  // Welford's sum of squared deviations here; the variance itself in
  // ExponentialNormalNodeStatistics.
  double spread_ = 0.0;
};

// Converts a non-negative speed to a whole number for reports: NaN and
// negative values give 0, values beyond 64 bits the largest value.
std::uint64_t SpeedToUint64(double value);

}  // namespace velmo
