#pragma once

#include <memory>
#include <string>

#include "velmo/http/HttpProxyFactory.h"
#include "velmo/http/HttpRequest.h"
#include "velmo/http/HttpSession.h"

namespace velmo {

// Makes requests with the proxy chosen for their URL. With a session, request
// objects come from (and return to) the session's pool and the proxy is
// discovered once per session; without one, every request discovers anew.
class HttpRequestFactory {
 public:
  explicit HttpRequestFactory(HttpProxyFactory& proxyFactory) : proxyFactory_(proxyFactory) {}
  virtual ~HttpRequestFactory() = default;
  virtual std::shared_ptr<HttpRequest> NewRequest(const HttpRequestParams& params,
                                                  const std::string& proxyAddress) = 0;

  std::shared_ptr<HttpRequest> Create(const HttpRequestParams& params);
  std::shared_ptr<HttpRequest> Create(const HttpRequestParams& params,
                                      const std::shared_ptr<HttpSession>& session);

 private:
  HttpProxyFactory& proxyFactory_;
};

}  // namespace velmo
