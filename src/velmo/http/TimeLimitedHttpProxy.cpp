#include "velmo/http/TimeLimitedHttpProxy.h"

#include <cctype>
#include <system_error>
#include <thread>

namespace velmo {

TimeLimitedHttpProxy::TimeLimitedHttpProxy(std::shared_ptr<HttpProxy> inner,
                                           std::chrono::milliseconds limit, Notice notice)
    : inner_(std::move(inner)),
      limit_(limit < std::chrono::milliseconds(0) ? std::chrono::milliseconds(0) : limit),
      notice_(std::move(notice)),
      shared_(std::make_shared<Shared>()) {}

TimeLimitedHttpProxy::~TimeLimitedHttpProxy() {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->closed = true;
  shared_->asked.notify_all();
}

bool TimeLimitedHttpProxy::TimedOut() const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->timedOut;
}

std::string TimeLimitedHttpProxy::CacheKey(const std::string& url) {
  const auto schemeEnd = url.find("://");
  if (schemeEnd == std::string::npos) return url;
  const auto authorityBegin = schemeEnd + 3;
  auto authorityEnd = url.find_first_of("/?#", authorityBegin);
  if (authorityEnd == std::string::npos) authorityEnd = url.size();
  // No user name or password, no port.
  auto hostBegin = url.rfind('@', authorityEnd);
  hostBegin =
      hostBegin == std::string::npos || hostBegin < authorityBegin ? authorityBegin : hostBegin + 1;
  auto hostEnd = authorityEnd;
  if (hostBegin < authorityEnd && url[hostBegin] == '[') {
    const auto bracket = url.find(']', hostBegin);
    if (bracket != std::string::npos && bracket < authorityEnd) hostEnd = bracket + 1;
  } else {
    const auto colon = url.find(':', hostBegin);
    if (colon != std::string::npos && colon < authorityEnd) hostEnd = colon;
  }
  std::string key = url.substr(0, authorityBegin) + url.substr(hostBegin, hostEnd - hostBegin);
  for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return key;
}

void TimeLimitedHttpProxy::Work(const std::shared_ptr<Shared>& shared,
                                const std::shared_ptr<HttpProxy>& inner) {
  std::unique_lock<std::mutex> lock(shared->mutex);
  while (true) {
    shared->asked.wait(
        lock, [&] { return shared->closed || shared->timedOut || !shared->questions.empty(); });
    // Nobody waits for an answer once the proxy is gone or has given up.
    if (shared->closed || shared->timedOut) break;
    const auto [key, url] = std::move(shared->questions.front());
    shared->questions.pop_front();
    lock.unlock();
    std::string address;
    try {
      address = inner->GetProxyForUrl(url);
    } catch (...) {
      // A discovery that fails means a direct connection.
    }
    lock.lock();
    Answer& answer = shared->answers[key];
    answer.done = true;
    answer.address = std::move(address);
    shared->answered.notify_all();
  }
  shared->workerRunning = false;
}

std::string TimeLimitedHttpProxy::GetProxyForUrl(const std::string& url) {
  if (!inner_) return std::string();
  std::string key = CacheKey(url);
  std::unique_lock<std::mutex> lock(shared_->mutex);
  if (shared_->timedOut) return std::string();
  const auto [it, asks] = shared_->answers.try_emplace(key);
  // References into the map stay valid as it grows; a pending answer is
  // only erased below, before anyone else could have seen it.
  const Answer& answer = it->second;
  if (answer.done) return answer.address;
  if (asks) {
    if (!shared_->workerRunning) {
      try {
        std::thread(Work, shared_, inner_).detach();
      } catch (const std::system_error&) {
        shared_->answers.erase(it);
        return std::string();  // no thread to bound the discovery with: direct
      }
      shared_->workerRunning = true;
    }
    shared_->questions.emplace_back(std::move(key), url);
    shared_->asked.notify_one();
  }
  shared_->answered.wait_for(lock, limit_, [&] { return answer.done || shared_->timedOut; });
  if (answer.done) return answer.address;
  const bool first = !shared_->timedOut;
  shared_->timedOut = true;
  shared_->answered.notify_all();  // other questions waiting give up too
  shared_->asked.notify_all();     // and the worker, once free, ends
  lock.unlock();
  if (first && notice_) {
    notice_("proxy discovery gave no answer within " + std::to_string(limit_.count()) +
            " ms; connecting directly");
  }
  return std::string();
}

}  // namespace velmo
