#pragma once

#include <atomic>
#include <cstdint>

namespace velmo::test {

// Numbers the operations of a layer from 1 and picks the one that fails: the
// Nth, once, as Beast's fail_count does. Operations after it succeed again, so
// a run shows whether the code above recovers from the one failure. Safe from
// any number of threads: the engine calls its layers from the pool's threads.
class FailAtStep {
 public:
  // `failAt` 0 injects nothing and only counts.
  explicit FailAtStep(std::uint64_t failAt = 0) : failAt_(failAt) {}

  // Counts one operation; true when it is the one that must fail.
  bool Next() {
    const std::uint64_t step = ++steps_;
    if (failAt_ == 0 || step != failAt_) return false;
    injected_ = true;
    return true;
  }
  // The number the next operation gets minus one: how many have run so far.
  std::uint64_t Steps() const { return steps_.load(); }
  // True once the Nth operation has been failed. A run in which this stays
  // false had fewer than N operations, so a fail-at-N loop is done.
  bool Injected() const { return injected_.load(); }
  std::uint64_t FailAt() const { return failAt_; }

 private:
  const std::uint64_t failAt_;
  std::atomic<std::uint64_t> steps_{0};
  std::atomic<bool> injected_{false};
};

}  // namespace velmo::test
