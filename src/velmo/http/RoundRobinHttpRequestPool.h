#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <unordered_set>

#include "velmo/http/HttpRequestPool.h"

namespace velmo {

// Idle requests are handed out first-in first-out, which spreads consecutive
// requests of a session over all of its open connections. The pool grows to the
// largest number of requests in use at once and keeps them until it is destroyed.
//
// Threads: any work thread calls Add, Acquire and Release. mutex_ guards all three
// containers; it is recursive because Acquire retries itself. It is held while an
// idle request is reset (Reset only refuses or reconfigures, it never blocks on the
// network) and never while a request performs.
class RoundRobinHttpRequestPool : public HttpRequestPool {
 public:
  void Add(const std::shared_ptr<HttpRequest>& request, bool idle) override;
  std::shared_ptr<HttpRequest> Acquire(const HttpRequestParams& params,
                                       const std::string& proxyAddress) override;
  void Release(const std::shared_ptr<HttpRequest>& request) override;

 private:
  void MakeIdle(const std::shared_ptr<HttpRequest>& request);

  std::recursive_mutex mutex_;
  std::unordered_set<std::shared_ptr<HttpRequest>> allRequests_;  // identity
  std::unordered_set<std::shared_ptr<HttpRequest>> idleSet_;
  std::deque<std::shared_ptr<HttpRequest>> idleQueue_;  // in the order they became idle
};

}  // namespace velmo
