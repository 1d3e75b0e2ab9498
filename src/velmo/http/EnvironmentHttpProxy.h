#pragma once

#include <functional>
#include <optional>
#include <string>

#include "velmo/http/HttpProxy.h"

namespace velmo {

// Reads one environment variable; empty optional when it is not set.
using EnvironmentReader = std::function<std::optional<std::string>(const std::string&)>;

// The manually configured proxy: a proxy list and a bypass list in the same "; "
// form as system proxy settings, built from http_proxy/HTTP_PROXY, all_proxy/
// ALL_PROXY and no_proxy/NO_PROXY. Immutable after construction, so any thread may ask.
class EnvironmentHttpProxy : public HttpProxy {
 public:
  EnvironmentHttpProxy(std::string proxyList, std::string bypassList)
      : proxyList_(std::move(proxyList)), bypassList_(std::move(bypassList)) {}

  // From the variables; empty optional when no proxy variable is set.
  static std::optional<EnvironmentHttpProxy> FromEnvironment(const EnvironmentReader& read);
  // "a.example, .b.example,*" -> "a.example; *.a.example; b.example; *.b.example; *"
  static std::string BypassListFromNoProxy(const std::string& noProxy);

  std::string GetProxyForUrl(const std::string& url) override;
  const std::string& proxyList() const { return proxyList_; }
  const std::string& bypassList() const { return bypassList_; }

 private:
  std::string proxyList_;
  std::string bypassList_;
};

// Reads the process environment.
std::optional<std::string> ReadProcessEnvironment(const std::string& name);

}  // namespace velmo
