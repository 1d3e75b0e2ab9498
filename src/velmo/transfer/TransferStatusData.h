#pragma once

// Work-status payloads that carry a TransferError. Consumers get one from a
// status with TransferOutcome::Failure; a payload that is not a
// TransferStatusData carries no code, and the transfer treats it as an internal
// error.
//
// The payload bases are inherited virtually, so a payload that is also a
// WorkErrorData or a WorkExceptionData has one shared WorkStatusData part.
// Payloads are immutable after construction and shared between threads.

#include <string>

#include "velmo/transfer/TransferError.h"
#include "velmo/work/WorkStatus.h"

namespace velmo {

class TransferStatusData : public virtual WorkStatusData {
 public:
  ~TransferStatusData() override = default;
  virtual TransferError ToTransferError() const = 0;
  // What failed and why, in words for the person running the transfer: the
  // document's URL and the HTTP status, the file and the system's message.
  // The one-line message by default.
  virtual std::string GetCause() const { return GetMessage(); }
};

}  // namespace velmo
