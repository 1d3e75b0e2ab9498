#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "velmo/http/HttpProxy.h"

namespace velmo {

// Puts a time limit on a discovery that has none of its own (libproxy: a PAC
// script fetched and run, WPAD lookups). Each question runs on a thread of its
// own while the caller (a pool thread) waits at most `limit`; past it the
// caller connects directly, the notice is given once, and every later
// question of this proxy gets a direct answer at once: a discovery that hung
// once would only hang again. The abandoned thread finishes, or not, on its
// own; it holds the inner proxy, so nothing it uses goes away under it.
//
// Threads: GetProxyForUrl may run on several threads at once. `shared_->mutex`
// guards the timed-out flag and each question's answer; the discovery threads
// take it only to hand their answer over.
class TimeLimitedHttpProxy : public HttpProxy {
 public:
  using Notice = std::function<void(const std::string&)>;

  TimeLimitedHttpProxy(std::shared_ptr<HttpProxy> inner, std::chrono::milliseconds limit,
                       Notice notice);

  std::string GetProxyForUrl(const std::string& url) override;

  bool TimedOut() const;
  std::chrono::milliseconds Limit() const { return limit_; }
  const std::shared_ptr<HttpProxy>& Inner() const { return inner_; }

 private:
  struct Shared {
    std::mutex mutex;
    std::condition_variable answered;
    bool timedOut = false;
  };

  const std::shared_ptr<HttpProxy> inner_;
  const std::chrono::milliseconds limit_;
  const Notice notice_;
  const std::shared_ptr<Shared> shared_;
};

}  // namespace velmo
