#include "velmo/transfer/TransferExceptionData.h"

namespace velmo {

TransferExceptionData::TransferExceptionData(TransferError error, std::exception_ptr exception)
    : WorkExceptionData(std::move(exception)), error_(error) {}

void TransferExceptionData::Describe(boost::property_tree::ptree& out) const {
  out.put("transferError", ToString(error_));
  WorkExceptionData::Describe(out);
}

std::string TransferExceptionData::GetMessage() const {
  return "error|" + ToString(error_) + "|" + WorkExceptionData::GetMessage();
}

std::shared_ptr<TransferExceptionData> MakeTransferExceptionData(TransferError error) {
  return std::make_shared<TransferExceptionData>(error, std::current_exception());
}

}  // namespace velmo
