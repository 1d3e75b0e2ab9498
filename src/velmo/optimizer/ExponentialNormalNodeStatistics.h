#pragma once

#include <deque>

#include "velmo/optimizer/NormalNodeStatistics.h"

namespace velmo {

// A normal speed model that forgets: each request (a failure as one sample of
// speed 0) moves mean and variance by the smoothing factor, so the optimizer
// follows a node whose speed changes during a run. Locking as in
// NormalNodeStatistics.
//
// The last kHistory samples are kept with the model's state before the oldest
// of them, so that a success found out later to be a failure (its chunk failed
// the checksum) can be replaced by a sample of 0 and the samples after it
// taken in again: the model then reads exactly as if the request had failed.
// Older samples weigh less than (1 - smoothing factor)^kHistory and are only
// counted, not replaced.
class ExponentialNormalNodeStatistics : public NormalNodeStatistics {
 public:
  static constexpr std::size_t kHistory = 64;

  explicit ExponentialNormalNodeStatistics(double smoothingFactor)
      : smoothingFactor_(smoothingFactor) {}
  // Takes count, mean, variance and smoothing factor; the request counters
  // start at 0, the history is empty and the mutex is a fresh one.
  ExponentialNormalNodeStatistics(const ExponentialNormalNodeStatistics& other);
  ExponentialNormalNodeStatistics& operator=(const ExponentialNormalNodeStatistics&) = delete;

  // The speed sample is the request's own: bytes per second of its time.
  void Record(std::uint64_t bytes, std::uint32_t timeMs, bool failed) override;

  // Takes in one request with a speed sample measured by the caller (the
  // optimizer measures a node's throughput across its concurrent requests);
  // a failure enters as 0 whatever `speed` says. Returns the sample's number
  // (the count after it), which names it to ReviseAsFailure.
  std::uint32_t RecordSample(std::uint64_t bytes, std::uint32_t timeMs, bool failed, double speed);

  // Turns the successful request recorded as sample `sample` (of `bytes`
  // bytes) into a failure: the counters as RecordChecksumFailure, and the
  // sample replaced by 0 when it is still in the history. A sample that is no
  // longer there (or 0, unknown) enters a new sample of 0 instead, so the node
  // loses weight either way.
  void ReviseAsFailure(std::uint32_t sample, std::uint64_t bytes);

  // (mean, variance) as stored.
  std::pair<double, double> GetDistribution() const override;
  // True when the most recent sample is a failure (a sample of 0).
  bool LastFailed() const;

  double GetSmoothingFactor() const { return smoothingFactor_; }

 private:
  // One smoothing step from (mean, variance) with `speed`. Call with mutex_.
  void Step(double& mean, double& variance, double speed) const;
  // Takes in one sample and keeps it in the history. Call with mutex_.
  void Push(double speed);

  double smoothingFactor_;
  // Samples first_ .. count_, oldest first, and the state before first_.
  std::deque<double> history_;
  std::uint32_t first_ = 1;
  double baseMean_ = 0.0;
  double baseVariance_ = 0.0;
};

}  // namespace velmo
