#pragma once

#include <memory>
#include <mutex>

#include "velmo/http/HttpProxy.h"
#include "velmo/http/HttpRequestPool.h"

namespace velmo {

// What a transfer (or the analytics sender) shares between its requests: a pool of
// idle requests and the proxy discovered on first use. Shared by many threads;
// mutex_ guards proxy_ only (the pool pointer never changes).
class HttpSession {
 public:
  explicit HttpSession(std::shared_ptr<HttpRequestPool> requestPool)
      : requestPool_(std::move(requestPool)) {}

  std::shared_ptr<HttpRequestPool> GetRequestPool() const { return requestPool_; }
  std::shared_ptr<HttpProxy> GetProxy() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return proxy_;
  }
  void SetProxy(std::shared_ptr<HttpProxy> proxy) {
    std::lock_guard<std::mutex> lock(mutex_);
    proxy_ = std::move(proxy);
  }

 private:
  mutable std::mutex mutex_;
  const std::shared_ptr<HttpRequestPool> requestPool_;
  std::shared_ptr<HttpProxy> proxy_;
};

}  // namespace velmo
