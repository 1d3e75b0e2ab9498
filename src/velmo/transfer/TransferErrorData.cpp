#include "velmo/transfer/TransferErrorData.h"

namespace velmo {

TransferErrorData::TransferErrorData(TransferError error, std::string message)
    : WorkErrorData(std::move(message)), error_(error) {}

void TransferErrorData::Describe(boost::property_tree::ptree& out) const {
  out.put("transferError", ToString(error_));
  WorkErrorData::Describe(out);
}

std::string TransferErrorData::GetMessage() const {
  return FormatErrorDiagnostic(error_, {WorkErrorData::GetMessage()});
}

std::shared_ptr<TransferErrorData> MakeTransferErrorData(TransferError error, std::string message) {
  return std::make_shared<TransferErrorData>(error, std::move(message));
}

}  // namespace velmo
