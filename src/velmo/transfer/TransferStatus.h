#pragma once

#include <cstdint>
#include <string>

#include "velmo/transfer/TransferError.h"
#include "velmo/transfer/TransferState.h"

namespace velmo {

// A snapshot of one transfer as the application sees it, copied by value.
struct TransferStatus {
  std::string transferId;
  std::string partnerId;
  std::string packageId;
  std::string versionId;
  std::string destPath;
  TransferState state = TransferState::Invalid;
  TransferError error = TransferError::None;
  bool retryable = false;              // the error can be cleared by a retry
  std::string errorCause;              // what failed and why, for people; empty without an error
  std::string runPath;                 // the package's run path; empty unless Completed
  std::uint64_t transferredBytes = 0;  // body bytes received by this process
  std::uint64_t progressBytes = 0;     // bytes written into chunks, less rolled-back data
  std::uint64_t completedBytes = 0;    // bytes of verified chunks
  std::uint64_t totalBytes = 0;        // 0 until the transfer is Initialized
  std::uint64_t speed = 0;             // bytes per second over the recent window
  std::int32_t secondsRemaining = -1;  // -1 when unknown
  // Why the transfer could not be stored when it started, so that no later
  // run can find it again; empty when it was stored or is not kept at all.
  std::string storeError;
};

// True when nothing more will happen to the transfer without a new request:
// it is gone, suspended, completed or canceled, or it failed for good.
bool IsFinal(const TransferStatus& status);

// The names people read ("ManifestError", "Transferring"); the numeric values
// stay what analytics and the stored records carry.
const char* ErrorName(TransferError error);
const char* StateName(TransferState state);

}  // namespace velmo
