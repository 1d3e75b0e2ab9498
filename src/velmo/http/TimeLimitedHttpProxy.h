#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>

#include "velmo/http/HttpProxy.h"

namespace velmo {

// Puts a time limit on a discovery that has none of its own (libproxy: a PAC
// script fetched and run, WPAD lookups), and asks it once per scheme and host.
// One worker thread, started by the first question, asks the inner proxy
// while the caller (a pool thread) waits at most `limit`; past it the caller
// connects directly, the notice is given once, and every later question of
// this proxy gets a direct answer at once: a discovery that hung once would
// only hang again. An answer (or a failed discovery's direct answer) is kept
// for the proxy's life, so a transfer's chunks do not each start a thread and
// have libproxy read its configuration again: a setting changed meanwhile
// applies to the next proxy. The worker holds the inner proxy and the shared
// state, so a discovery that never returns keeps nothing it uses from going
// away under it; when the proxy is destroyed the worker ends after the
// question it is on.
//
// Threads: GetProxyForUrl may run on several threads at once. `shared_->mutex`
// guards everything in Shared; the worker releases it while it asks.
class TimeLimitedHttpProxy : public HttpProxy {
 public:
  using Notice = std::function<void(const std::string&)>;

  TimeLimitedHttpProxy(std::shared_ptr<HttpProxy> inner, std::chrono::milliseconds limit,
                       Notice notice);
  ~TimeLimitedHttpProxy() override;
  TimeLimitedHttpProxy(const TimeLimitedHttpProxy&) = delete;
  TimeLimitedHttpProxy& operator=(const TimeLimitedHttpProxy&) = delete;

  std::string GetProxyForUrl(const std::string& url) override;

  bool TimedOut() const;
  std::chrono::milliseconds Limit() const { return limit_; }
  const std::shared_ptr<HttpProxy>& Inner() const { return inner_; }

  // What answers are kept under: the URL's scheme and host, in lower case
  // ("http://node.example"); the whole URL when it has no "scheme://".
  static std::string CacheKey(const std::string& url);

 private:
  struct Answer {
    bool done = false;
    std::string address;
  };
  struct Shared {
    std::mutex mutex;
    std::condition_variable asked;     // the worker waits for questions
    std::condition_variable answered;  // the askers wait for answers
    // Questions for the worker: cache key and the URL that asked first.
    std::deque<std::pair<std::string, std::string>> questions;
    std::unordered_map<std::string, Answer> answers;  // pending until done
    bool workerRunning = false;
    bool timedOut = false;
    bool closed = false;  // the proxy is gone: the worker ends
  };

  static void Work(const std::shared_ptr<Shared>& shared, const std::shared_ptr<HttpProxy>& inner);

  const std::shared_ptr<HttpProxy> inner_;
  const std::chrono::milliseconds limit_;
  const Notice notice_;
  const std::shared_ptr<Shared> shared_;
};

}  // namespace velmo
