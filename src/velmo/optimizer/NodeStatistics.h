#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>

#include "velmo/manifest/OutputManifest.h"

namespace velmo {

// A counter updated without locks that remembers its value at the last report,
// so that periodic reports can take what was added since the previous one.
//
// Threads: Add and Load from any thread at any time (atomics); TakeDelta from
// any thread, serialized by markMutex_, which guards mark_ only.
template <typename T>
class ReportedCounter {
 public:
  void Add(T amount) { value_.fetch_add(amount, std::memory_order_relaxed); }
  // Takes `amount` back, stopping at 0: a correction never wraps the counter.
  void Subtract(T amount) {
    T current = value_.load(std::memory_order_relaxed);
    while (!value_.compare_exchange_weak(current, current - std::min(current, amount),
                                         std::memory_order_relaxed)) {
    }
  }
  T Load() const { return value_.load(std::memory_order_relaxed); }

  // The value minus the value at the previous TakeDelta (0 at the start);
  // the current value becomes the new mark.
  T TakeDelta() {
    std::lock_guard<std::mutex> lock(markMutex_);
    const T now = Load();
    const T delta = now - mark_;
    mark_ = now;
    return delta;
  }

  // What TakeDelta would return now, leaving the mark where it is.
  T PeekDelta() {
    std::lock_guard<std::mutex> lock(markMutex_);
    return Load() - mark_;
  }

 private:
  std::atomic<T> value_{0};
  std::mutex markMutex_;
  T mark_ = 0;
};

// The plain request counters of one download node: successes, failures, bytes
// and request time. Every node manifest owns one; chunk requests record into
// it on work-manager threads while reports write it on other threads, all
// without locks (each counter is atomic; see ReportedCounter for the marks).
// Refinements that keep speed statistics guard their own fields themselves.
class NodeStatistics : public OutputManifest {
 public:
  NodeStatistics() = default;
  NodeStatistics(const NodeStatistics&) = delete;
  NodeStatistics& operator=(const NodeStatistics&) = delete;
  ~NodeStatistics() override = default;

  // Sets "Requests" (successes and failures), "Errors", "Bytes" and
  // "Average Request Speed" (successful bytes per second of request time).
  void Write(boost::property_tree::ptree& tree) const override;

  // Takes in one request: its body bytes, its duration (counted as at least
  // 1 ms) and whether it failed. A failure's bytes count in Bytes only.
  virtual void Record(std::uint64_t bytes, std::uint32_t timeMs, bool failed);

  // Turns one request already recorded as a success of `bytes` into a
  // failure: its chunk arrived complete but failed its checksum. Requests and
  // successful bytes lose it (never below 0), errors gain it; bytes and
  // request time stay, the bytes did arrive. Report deltas taken since then
  // see the success taken back only in the counters nothing takes deltas of.
  void RecordChecksumFailure(std::uint64_t bytes);

  std::uint32_t GetRequests() const { return requests_.Load(); }
  std::uint32_t GetErrors() const { return errors_.Load(); }
  std::uint64_t GetSuccessBytes() const { return successBytes_.Load(); }
  std::uint64_t GetBytes() const { return bytes_.Load(); }
  std::uint32_t GetTotalTimeMs() const { return totalTimeMs_.Load(); }

  // Chunks this node delivered whose bytes failed their CRC-32. Counted apart
  // from the request outcome: the request itself succeeded.
  void CountChecksumFailure() { checksumFailures_.fetch_add(1, std::memory_order_relaxed); }
  std::uint32_t GetChecksumFailures() const {
    return checksumFailures_.load(std::memory_order_relaxed);
  }

  // What each counter gained since its previous TakeDelta.
  std::uint32_t TakeRequestsDelta() { return requests_.TakeDelta(); }
  std::uint32_t TakeErrorsDelta() { return errors_.TakeDelta(); }
  std::uint64_t TakeSuccessBytesDelta() { return successBytes_.TakeDelta(); }
  std::uint64_t TakeBytesDelta() { return bytes_.TakeDelta(); }
  std::uint32_t TakeTotalTimeMsDelta() { return totalTimeMs_.TakeDelta(); }

 private:
  ReportedCounter<std::uint32_t> requests_;
  ReportedCounter<std::uint32_t> errors_;
  ReportedCounter<std::uint64_t> successBytes_;
  ReportedCounter<std::uint64_t> bytes_;
  ReportedCounter<std::uint32_t> totalTimeMs_;
  std::atomic<std::uint32_t> checksumFailures_{0};
};

}  // namespace velmo
