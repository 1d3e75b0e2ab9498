#pragma once

#include "velmo/optimizer/NormalNodeStatistics.h"

namespace velmo {

// A normal speed model that forgets: each request (a failure as one sample of
// speed 0) moves mean and variance by the smoothing factor, so the optimizer
// follows a node whose speed changes during a run. Locking as in
// NormalNodeStatistics.
class ExponentialNormalNodeStatistics : public NormalNodeStatistics {
 public:
  explicit ExponentialNormalNodeStatistics(double smoothingFactor)
      : smoothingFactor_(smoothingFactor) {}
  // Takes count, mean, variance and smoothing factor; the request counters
  // start at 0 and the mutex is a fresh one.
  ExponentialNormalNodeStatistics(const ExponentialNormalNodeStatistics& other);
  ExponentialNormalNodeStatistics& operator=(const ExponentialNormalNodeStatistics&) = delete;

  void Record(std::uint64_t bytes, std::uint32_t timeMs, bool failed) override;
  // (mean, variance) as stored.
  std::pair<double, double> GetDistribution() const override;

  double GetSmoothingFactor() const { return smoothingFactor_; }

 private:
  double smoothingFactor_;
};

}  // namespace velmo
