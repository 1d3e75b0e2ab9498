#include "velmo/transfer/works/HttpTransferStatusData.h"

#include <boost/property_tree/ptree.hpp>

#include "velmo/transfer/TransferExceptionData.h"

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
  return FormatErrorDiagnostic(
      error, {std::to_string(static_cast<unsigned>(status_.result)), status_.errorMessage});
}

std::string HttpTransferStatusData::GetCause() const {
  std::string cause = "node " + hostname_ + ": ";
  if (!status_.errorMessage.empty()) return cause + ExplainRequestError(status_.errorMessage);
  if (status_.responseCode != 0) return cause + "HTTP " + std::to_string(status_.responseCode);
  return cause + "request failed (result " + std::to_string(static_cast<unsigned>(status_.result)) +
         ")";
}

}  // namespace velmo
