#pragma once

#include <memory>

#include "velmo/http/HttpProxy.h"

namespace velmo {

// Discovers the system proxy; called once per session (or per unpooled request).
class HttpProxyFactory {
 public:
  virtual ~HttpProxyFactory() = default;
  virtual std::shared_ptr<HttpProxy> Create() = 0;
};

}  // namespace velmo
