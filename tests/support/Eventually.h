#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace velmo::test {

// Polls `condition` every millisecond until it holds or `bound` has passed;
// true when it held. Every wait of a test that can hang goes through a bound.
inline bool Eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds bound = std::chrono::seconds(10)) {
  const auto end = std::chrono::steady_clock::now() + bound;
  while (std::chrono::steady_clock::now() < end) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return condition();
}

}  // namespace velmo::test
