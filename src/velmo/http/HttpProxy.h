#pragma once

#include <string>

namespace velmo {

// Answers which proxy (host:port) to use for a URL; empty means connect directly.
// May be called from several threads at once.
class HttpProxy {
 public:
  virtual ~HttpProxy() = default;
  virtual std::string GetProxyForUrl(const std::string& url) = 0;
};

}  // namespace velmo
