#include "velmo/http/LibproxyHttpProxy.h"

#include <proxy.h>

namespace velmo {

LibproxyHttpProxy::LibproxyHttpProxy() : factory_(px_proxy_factory_new()) {}

LibproxyHttpProxy::~LibproxyHttpProxy() {
  if (factory_ != nullptr) {
    px_proxy_factory_free(factory_);
  }
}

std::string LibproxyHttpProxy::FromLibproxyAnswer(char** proxies, bool* failed) {
  *failed = false;
  if (proxies == nullptr || proxies[0] == nullptr) {
    *failed = true;
    return std::string();
  }
  const std::string first = proxies[0];
  if (first.rfind("direct://", 0) == 0) {
    return std::string();
  }
  static const std::string kHttp = "http://";
  std::string address = first.rfind(kHttp, 0) == 0 ? first.substr(kHttp.size()) : first;
  while (!address.empty() && address.back() == '/') {
    address.pop_back();
  }
  if (address.empty()) {
    *failed = true;
  }
  return address;
}

std::string LibproxyHttpProxy::GetProxyForUrl(const std::string& url) {
  if (factory_ == nullptr || failed_.load()) {
    return std::string();
  }
  char** proxies = px_proxy_factory_get_proxies(factory_, url.c_str());
  bool failed = false;
  std::string address = FromLibproxyAnswer(proxies, &failed);
  if (proxies != nullptr) {
    px_proxy_factory_free_proxies(proxies);
  }
  if (failed) {
    failed_.store(true);
    return std::string();
  }
  return address;
}

}  // namespace velmo
