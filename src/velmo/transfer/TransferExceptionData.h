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
  // `context` names what was being worked on (a URL, a file path); it leads
  // the cause.
  TransferExceptionData(TransferError error, std::exception_ptr exception,
                        std::string context = std::string());

  TransferError ToTransferError() const override { return error_; }
  // "transferError" = the code in decimal, then "exception" (and "what" for a
  // standard exception).
  void Describe(boost::property_tree::ptree& out) const override;
  // "error|<code>|<run-time type name>", or "...|Unknown exception type".
  std::string GetMessage() const override;
  // "<context>: <what the exception says>", e.g. "http://h/nodes/p.xml: libcurl
  // error 22 (HTTP 403): ...", or "/dest/a.bin: Permission denied".
  std::string GetCause() const override;
  const std::string& GetContext() const { return context_; }

 protected:
  // For TransferFileExceptionData, which settles the code after looking at the
  // exception.
  void SetError(TransferError error) { error_ = error; }

 private:
  TransferError error_;
  std::string context_;
};

// What a captured exception says, in words: the system's message of a file
// failure, the text of a manifest failure, "out of memory".
std::string DescribeException(const std::exception_ptr& exception);

// A request's error text with libcurl's own words for its code appended:
// "libcurl error 7 (HTTP 0)" becomes "libcurl error 7 (HTTP 0): Couldn't
// connect to server". Other text is returned as it is.
std::string ExplainRequestError(const std::string& message);

// Captures the exception currently being handled; call only inside a catch block.
std::shared_ptr<TransferExceptionData> MakeTransferExceptionData(
    TransferError error, std::string context = std::string());

}  // namespace velmo
