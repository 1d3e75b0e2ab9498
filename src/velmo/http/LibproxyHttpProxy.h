#pragma once

#include <atomic>
#include <string>

#include "velmo/http/HttpProxy.h"

struct pxProxyFactory_;

namespace velmo {

// The automatic proxy: desktop settings, a PAC script or WPAD, through libproxy.
// The first failed discovery turns it direct for the rest of its session, so a
// broken configuration costs one attempt, not one per request.
//
// Threads: GetProxyForUrl may run on several threads at once; the libproxy factory
// serialises its own work, and failed_ is atomic.
class LibproxyHttpProxy : public HttpProxy {
 public:
  LibproxyHttpProxy();
  ~LibproxyHttpProxy() override;
  LibproxyHttpProxy(const LibproxyHttpProxy&) = delete;
  LibproxyHttpProxy& operator=(const LibproxyHttpProxy&) = delete;

  std::string GetProxyForUrl(const std::string& url) override;

  // libproxy's answer (a NULL-terminated list, best first) as our proxy address:
  // "direct://" -> empty, "http://host:port" -> host:port, others unchanged for
  // libcurl (socks5://...). Sets *failed when there is no usable answer.
  static std::string FromLibproxyAnswer(char** proxies, bool* failed);
  bool failed() const { return failed_.load(); }

 private:
  pxProxyFactory_* factory_;
  std::atomic<bool> failed_{false};
};

}  // namespace velmo
