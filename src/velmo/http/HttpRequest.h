#pragma once

#include <string>
#include <utility>

#include "velmo/http/HttpRequestParams.h"
#include "velmo/http/HttpRequestStatus.h"

namespace velmo {

// One HTTP transfer, performed synchronously by Execute on the caller's thread.
// GetStatus and Cancel may be called from any thread; Reset makes the object
// ready for a new transfer (refused while one is in progress).
class HttpRequest {
 public:
  virtual ~HttpRequest() = default;
  virtual HttpRequestStatus Execute() = 0;
  virtual HttpRequestStatus GetStatus() = 0;
  virtual void Cancel() = 0;
  virtual bool Reset(const HttpRequestParams& params, const std::string& proxy) = 0;

 protected:
  HttpRequest() : params_(std::string(), nullptr) {}
  HttpRequest(HttpRequestParams params, std::string proxy)
      : params_(std::move(params)), proxy_(std::move(proxy)) {}

  HttpRequestParams params_;
  std::string proxy_;  // host:port, empty = direct
};

}  // namespace velmo
