#include "velmo/http/HttpRequestFactory.h"

#include "velmo/http/PooledHttpRequestWrapper.h"

namespace velmo {

std::shared_ptr<HttpRequest> HttpRequestFactory::Create(const HttpRequestParams& params) {
  const std::shared_ptr<HttpProxy> proxy = proxyFactory_.Create();
  return NewRequest(params, proxy->GetProxyForUrl(params.url));
}

std::shared_ptr<HttpRequest> HttpRequestFactory::Create(
    const HttpRequestParams& params, const std::shared_ptr<HttpSession>& session) {
  if (!session) {
    return Create(params);
  }
  const std::shared_ptr<HttpRequestPool> pool = session->GetRequestPool();
  if (!pool) {
    return Create(params);
  }
  std::shared_ptr<HttpProxy> proxy = session->GetProxy();
  if (!proxy) {
    // Two threads may both discover; whichever stores last stays. Both answers
    // are equally valid, so the race only costs one extra discovery.
    proxy = proxyFactory_.Create();
    session->SetProxy(proxy);
  }
  const std::string address = proxy->GetProxyForUrl(params.url);
  std::shared_ptr<HttpRequest> request = pool->Acquire(params, address);
  if (!request) {
    request = NewRequest(params, address);
    pool->Add(request, false);
  }
  return std::make_shared<PooledHttpRequestWrapper>(std::move(request), pool);
}

}  // namespace velmo
