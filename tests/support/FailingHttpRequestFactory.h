#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "support/FailAtStep.h"
#include "velmo/http/HttpRequestFactory.h"

namespace velmo::test {

// An HttpRequestFactory around a real one that counts every request executed
// through it (manifests, node lists, chunks, analytics; a pooled request
// object counts once per Execute) and fails the Nth the way callers see a
// transport fail. Which failure depends on N, so that one loop over N meets
// all three:
//   N % 3 == 1  the connection is refused (ConnectFailed, nothing received);
//   N % 3 == 2  the server answers 503 (ServerError, no body);
//   N % 3 == 0  the whole body arrives, then the connection resets before the
//               transfer ends (NetworkError with the bytes counted).
// The message reads like the real request's ("libcurl error 7 (HTTP 0)").
//
// Make it with std::make_shared: the requests it hands out keep it alive.
class FailingHttpRequestFactory : public HttpRequestFactory,
                                  public std::enable_shared_from_this<FailingHttpRequestFactory> {
 public:
  // `proxies` discovers proxies exactly as for `real` (HttpRequestFactory::Create
  // asks the factory's own proxy factory before calling NewRequest).
  FailingHttpRequestFactory(HttpRequestFactory& real, HttpProxyFactory& proxies,
                            std::uint64_t failAt);

  std::shared_ptr<HttpRequest> NewRequest(const HttpRequestParams& params,
                                          const std::string& proxyAddress) override;

  const FailAtStep& Steps() const { return steps_; }
  // The URL of the request that was failed, empty before it.
  std::string InjectedUrl() const;

  // For the requests handed out: counts one Execute and says whether it fails.
  bool Fail(const std::string& url);

 private:
  HttpRequestFactory& real_;
  FailAtStep steps_;
  mutable std::mutex mutex_;  // guards injectedUrl_
  std::string injectedUrl_;
};

}  // namespace velmo::test
