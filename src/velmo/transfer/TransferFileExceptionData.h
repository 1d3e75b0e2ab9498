#pragma once

#include <exception>
#include <memory>

#include "velmo/transfer/TransferExceptionData.h"

namespace velmo {

// A captured exception of a work that touches files, with the code and the
// retry decision derived from the exception's type: a file in use, an
// inaccessible file and a full disk may go away, so they are retryable; a bad
// path, an out-of-bounds access and anything unrecognised are not.
class TransferFileExceptionData : public TransferExceptionData {
 public:
  // `context` is the file's path, when the work knows it.
  explicit TransferFileExceptionData(const std::exception_ptr& exception,
                                     std::string context = std::string());

  bool IsRetryable() const { return retryable_; }

 private:
  bool retryable_ = false;
};

// Captures the exception currently being handled; call only inside a catch block.
std::shared_ptr<TransferFileExceptionData> MakeTransferFileExceptionData(
    std::string context = std::string());

}  // namespace velmo
