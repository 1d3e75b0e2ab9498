#pragma once

#include <memory>
#include <string>

#include "velmo/transfer/TransferStatusData.h"
#include "velmo/work/WorkStatus.h"

namespace velmo {

// A code and a message: what a task reports when it finds its own state
// inconsistent ("VerifyChunkWork::ExecuteTask has no shared map").
class TransferErrorData : public TransferStatusData, public WorkErrorData {
 public:
  TransferErrorData(TransferError error, std::string message);

  TransferError ToTransferError() const override { return error_; }
  // "transferError" = the code in decimal, then "errorMessage".
  void Describe(boost::property_tree::ptree& out) const override;
  // "error|<code>|<message>".
  std::string GetMessage() const override;
  // The message alone.
  std::string GetCause() const override { return WorkErrorData::GetMessage(); }

 private:
  const TransferError error_;
};

std::shared_ptr<TransferErrorData> MakeTransferErrorData(TransferError error, std::string message);

}  // namespace velmo
