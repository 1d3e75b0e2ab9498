#pragma once

#include <memory>

#include "velmo/http/HttpRequest.h"
#include "velmo/http/HttpRequestPool.h"

namespace velmo {

// A pooled request as its user sees it: every call is forwarded, and dropping the
// wrapper returns the request to its pool.
class PooledHttpRequestWrapper : public HttpRequest {
 public:
  PooledHttpRequestWrapper(std::shared_ptr<HttpRequest> request,
                           std::shared_ptr<HttpRequestPool> pool)
      : request_(std::move(request)), pool_(std::move(pool)) {}
  ~PooledHttpRequestWrapper() override { pool_->Release(request_); }
  PooledHttpRequestWrapper(const PooledHttpRequestWrapper&) = delete;
  PooledHttpRequestWrapper& operator=(const PooledHttpRequestWrapper&) = delete;

  HttpRequestStatus Execute() override { return request_->Execute(); }
  HttpRequestStatus GetStatus() override { return request_->GetStatus(); }
  void Cancel() override { request_->Cancel(); }
  bool Reset(const HttpRequestParams& params, const std::string& proxy) override {
    return request_->Reset(params, proxy);
  }

 private:
  std::shared_ptr<HttpRequest> request_;
  std::shared_ptr<HttpRequestPool> pool_;
};

}  // namespace velmo
