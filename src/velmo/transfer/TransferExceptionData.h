#pragma once

#include <exception>
#include <memory>
#include <string>

#include "velmo/transfer/TransferStatusData.h"
#include "velmo/work/WorkStatus.h"

namespace velmo {

// A code and a captured exception.
class TransferExceptionData : public TransferStatusData, public WorkExceptionData {
 public:
  TransferExceptionData(TransferError error, std::exception_ptr exception);

  TransferError ToTransferError() const override { return error_; }
  // "transferError" = the code in decimal, then "exception" (and "what" for a
  // standard exception).
  void Describe(boost::property_tree::ptree& out) const override;
  // "error|<code>|<run-time type name>", or "...|Unknown exception type".
  std::string GetMessage() const override;

 protected:
  // For TransferFileExceptionData, which settles the code after looking at the
  // exception.
  void SetError(TransferError error) { error_ = error; }

 private:
  TransferError error_;
};

// Captures the exception currently being handled; call only inside a catch block.
std::shared_ptr<TransferExceptionData> MakeTransferExceptionData(TransferError error);

}  // namespace velmo
