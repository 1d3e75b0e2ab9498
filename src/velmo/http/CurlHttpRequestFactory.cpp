#include "velmo/http/CurlHttpRequestFactory.h"

#include "velmo/http/CurlHttpRequest.h"

namespace velmo {

std::shared_ptr<HttpRequest> CurlHttpRequestFactory::NewRequest(const HttpRequestParams& params,
                                                                const std::string& proxyAddress) {
  return std::make_shared<CurlHttpRequest>(params, proxyAddress);
}

}  // namespace velmo
