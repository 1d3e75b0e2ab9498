#pragma once

#include <chrono>
#include <string>
#include <thread>

#include "velmo/engine/TransferEngine.h"

namespace velmo::test {

// Reads a transfer's status from the engine every `step` until `done` holds
// for it or `bound` has passed, and returns the last status read. The caller
// checks `done` on it and says what explains a failed wait.
template <typename Predicate>
TransferStatus PollStatus(TransferEngine& engine, const std::string& id, Predicate done,
                          std::chrono::milliseconds bound = std::chrono::seconds(60),
                          std::chrono::milliseconds step = std::chrono::milliseconds(20)) {
  const auto until = std::chrono::steady_clock::now() + bound;
  TransferStatus status = engine.GetTransferStatus(id);
  while (!done(status) && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(step);
    status = engine.GetTransferStatus(id);
  }
  return status;
}

}  // namespace velmo::test
