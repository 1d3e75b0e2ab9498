#include "velmo/http/RoundRobinHttpRequestPool.h"

namespace velmo {

void RoundRobinHttpRequestPool::Add(const std::shared_ptr<HttpRequest>& request, bool idle) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const bool inserted = allRequests_.insert(request).second;
  if (inserted && idle) {
    MakeIdle(request);
  }
}

void RoundRobinHttpRequestPool::MakeIdle(const std::shared_ptr<HttpRequest>& request) {
  if (idleSet_.insert(request).second) {
    idleQueue_.push_back(request);
  }
}

std::shared_ptr<HttpRequest> RoundRobinHttpRequestPool::Acquire(const HttpRequestParams& params,
                                                                const std::string& proxyAddress) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (idleQueue_.empty()) {
    return nullptr;
  }
  std::shared_ptr<HttpRequest> request = std::move(idleQueue_.front());
  idleQueue_.pop_front();
  idleSet_.erase(request);
  if (request->Reset(params, proxyAddress)) {
    return request;
  }
  // Still performing for someone else: forget it; its last owner drops it.
  allRequests_.erase(request);
  return Acquire(params, proxyAddress);
}

void RoundRobinHttpRequestPool::Release(const std::shared_ptr<HttpRequest>& request) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (allRequests_.count(request) != 0) {
    MakeIdle(request);
  }
}

}  // namespace velmo
