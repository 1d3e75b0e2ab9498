#pragma once

#include <cstdint>
#include <string>

#include "velmo/http/HttpRequestStatus.h"
#include "velmo/transfer/TransferStatusData.h"

namespace velmo {

// The outcome of one chunk request: which node, what HTTP said, how long.
class HttpTransferStatusData : public TransferStatusData {
 public:
  HttpTransferStatusData(std::string hostname, HttpRequestStatus status, std::int32_t requestTimeMs)
      : hostname_(std::move(hostname)), status_(std::move(status)), requestTimeMs_(requestTimeMs) {}
  HttpTransferStatusData(const HttpTransferStatusData&) = delete;
  HttpTransferStatusData& operator=(const HttpTransferStatusData&) = delete;

  TransferError ToTransferError() const override;
  // "hostname", "ip", "httpResult", "httpResponseCode", "bytesWritten",
  // "errorDetails", "requestTimeMs".
  void Describe(boost::property_tree::ptree& out) const override;
  // "error|<transfer error>|<http result>|<error message>", empty on success.
  std::string GetMessage() const override;
  // "node <host>: <libcurl's text>", or "node <host>: HTTP <code>" when the
  // request has no text of its own.
  std::string GetCause() const override;

  const HttpRequestStatus& GetStatus() const { return status_; }
  std::int32_t GetRequestTimeMs() const { return requestTimeMs_; }

 private:
  std::string hostname_;
  HttpRequestStatus status_;
  std::int32_t requestTimeMs_;
};

}  // namespace velmo
