#pragma once

#include <cstdint>

namespace velmo {

// Where a transfer is in its life. The numeric values travel: analytics send
// them and the application compares them, so they never change.
enum class TransferState : std::uint8_t {
  Invalid = 0,             // no such transfer (the snapshot of an unknown id)
  Initializing = 1,        // fetching manifests and preparing
  InitializingPaused = 2,  // paused while initializing
  Initialized = 3,         // ready; waiting to be started
  Transferring = 4,        // downloading
  TransferringPaused = 5,  // paused while downloading
  Suspended = 6,           // stopped, resumable later
  Completed = 7,           // all files done
  Canceled = 8,            // canceled
};

}  // namespace velmo
