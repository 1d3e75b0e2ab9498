#pragma once

#include <memory>
#include <string>

#include "velmo/http/HttpRequest.h"

namespace velmo {

// Keeps request objects (and with them their open connections) for reuse.
class HttpRequestPool {
 public:
  virtual ~HttpRequestPool() = default;
  virtual void Add(const std::shared_ptr<HttpRequest>& request, bool idle) = 0;
  // An idle request reset to params and proxy, or empty when none is idle.
  virtual std::shared_ptr<HttpRequest> Acquire(const HttpRequestParams& params,
                                               const std::string& proxyAddress) = 0;
  virtual void Release(const std::shared_ptr<HttpRequest>& request) = 0;
};

}  // namespace velmo
