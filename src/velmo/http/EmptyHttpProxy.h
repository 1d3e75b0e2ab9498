#pragma once

#include "velmo/http/HttpProxy.h"

namespace velmo {

// Always connects directly.
class EmptyHttpProxy : public HttpProxy {
 public:
  std::string GetProxyForUrl(const std::string&) override { return std::string(); }
};

}  // namespace velmo
