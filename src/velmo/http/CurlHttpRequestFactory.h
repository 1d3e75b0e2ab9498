#pragma once

#include "velmo/http/HttpRequestFactory.h"

namespace velmo {

class CurlHttpRequestFactory : public HttpRequestFactory {
 public:
  using HttpRequestFactory::HttpRequestFactory;
  std::shared_ptr<HttpRequest> NewRequest(const HttpRequestParams& params,
                                          const std::string& proxyAddress) override;
};

}  // namespace velmo
