#include "velmo/transfer/works/HttpTransferStatusData.h"

#include <boost/property_tree/ptree.hpp>

namespace velmo {

TransferError HttpTransferStatusData::ToTransferError() const {
  return TransferErrorFromHttpResult(static_cast<unsigned>(status_.result));
}

void HttpTransferStatusData::Describe(boost::property_tree::ptree& out) const {
  out.put("hostname", hostname_);
  out.put("ip", status_.primaryIp);
  out.put("httpResult", static_cast<unsigned>(status_.result));
  out.put("httpResponseCode", status_.responseCode);
  out.put("bytesWritten", status_.bytes);
  out.put("errorDetails", status_.errorMessage);
  out.put("requestTimeMs", requestTimeMs_);
}

std::string HttpTransferStatusData::GetMessage() const {
  const TransferError error = ToTransferError();
  if (error == TransferError::None) return std::string();
  return "error|" + std::to_string(static_cast<unsigned>(error)) + "|" +
         std::to_string(static_cast<unsigned>(status_.result)) + "|" + status_.errorMessage;
}

}  // namespace velmo
