#include "velmo/http/TimeLimitedHttpProxy.h"

#include <system_error>
#include <thread>

namespace velmo {
namespace {

struct Question {
  bool done = false;
  std::string answer;
};

}  // namespace

TimeLimitedHttpProxy::TimeLimitedHttpProxy(std::shared_ptr<HttpProxy> inner,
                                           std::chrono::milliseconds limit, Notice notice)
    : inner_(std::move(inner)),
      limit_(limit < std::chrono::milliseconds(0) ? std::chrono::milliseconds(0) : limit),
      notice_(std::move(notice)),
      shared_(std::make_shared<Shared>()) {}

bool TimeLimitedHttpProxy::TimedOut() const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->timedOut;
}

std::string TimeLimitedHttpProxy::GetProxyForUrl(const std::string& url) {
  if (!inner_ || TimedOut()) return std::string();
  auto question = std::make_shared<Question>();
  try {
    std::thread([shared = shared_, inner = inner_, question, url] {
      std::string answer;
      try {
        answer = inner->GetProxyForUrl(url);
      } catch (...) {
        // A discovery that fails means a direct connection.
      }
      std::lock_guard<std::mutex> lock(shared->mutex);
      question->done = true;
      question->answer = std::move(answer);
      shared->answered.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return std::string();  // no thread to bound the discovery with: direct
  }
  std::unique_lock<std::mutex> lock(shared_->mutex);
  shared_->answered.wait_for(lock, limit_, [&] { return question->done || shared_->timedOut; });
  if (question->done) return question->answer;
  const bool first = !shared_->timedOut;
  shared_->timedOut = true;
  shared_->answered.notify_all();  // other questions waiting give up too
  lock.unlock();
  if (first && notice_) {
    notice_("proxy discovery gave no answer within " + std::to_string(limit_.count()) +
            " ms; connecting directly");
  }
  return std::string();
}

}  // namespace velmo
