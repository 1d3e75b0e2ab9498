#include "support/FailingHttpRequestFactory.h"

#include <utility>

namespace velmo::test {
namespace {

// libcurl's codes for the failures made up below, as they appear in the real
// request's message.
constexpr int kCurlCouldntConnect = 7;
constexpr int kCurlHttpReturnedError = 22;
constexpr int kCurlRecvError = 56;

HttpRequestStatus Failure(HttpRequestResult result, int curlCode, std::int32_t responseCode,
                          std::uint64_t bytes) {
  HttpRequestStatus status(result, bytes);
  status.responseCode = responseCode;
  status.errorMessage =
      "libcurl error " + std::to_string(curlCode) + " (HTTP " + std::to_string(responseCode) + ")";
  return status;
}

// A real request whose Execute first asks the factory whether it is the one
// to fail. Once failed, it reports that failure until it is Reset, as the
// real request keeps its status.
class FailingHttpRequest : public HttpRequest {
 public:
  FailingHttpRequest(std::shared_ptr<HttpRequest> real,
                     std::shared_ptr<FailingHttpRequestFactory> factory, std::string url)
      : real_(std::move(real)), factory_(std::move(factory)), url_(std::move(url)) {}

  HttpRequestStatus Execute() override {
    std::string url;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (failed_) return failure_;
      url = url_;
    }
    if (!factory_->Fail(url)) return real_->Execute();
    const std::uint64_t step = factory_->Steps().FailAt();
    HttpRequestStatus failure;
    if (step % 3 == 1) {
      failure = Failure(HttpRequestResult::ConnectFailed, kCurlCouldntConnect, 0, 0);
    } else if (step % 3 == 2) {
      failure = Failure(HttpRequestResult::ServerError, kCurlHttpReturnedError, 503, 0);
    } else {
      const HttpRequestStatus received = real_->Execute();
      if (received.result != HttpRequestResult::Success) return received;
      failure = Failure(HttpRequestResult::NetworkError, kCurlRecvError, received.responseCode,
                        received.bytes);
      failure.primaryIp = received.primaryIp;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    failed_ = true;
    failure_ = failure;
    return failure;
  }

  HttpRequestStatus GetStatus() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (failed_) return failure_;
    }
    return real_->GetStatus();
  }

  void Cancel() override { real_->Cancel(); }

  bool Reset(const HttpRequestParams& params, const std::string& proxy) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!real_->Reset(params, proxy)) return false;
    failed_ = false;
    url_ = params.url;
    return true;
  }

 private:
  std::shared_ptr<HttpRequest> real_;
  std::shared_ptr<FailingHttpRequestFactory> factory_;
  std::mutex mutex_;  // guards url_, failed_ and failure_
  std::string url_;
  bool failed_ = false;
  HttpRequestStatus failure_;
};

}  // namespace

FailingHttpRequestFactory::FailingHttpRequestFactory(HttpRequestFactory& real,
                                                     HttpProxyFactory& proxies,
                                                     std::uint64_t failAt)
    : HttpRequestFactory(proxies), real_(real), steps_(failAt) {}

std::shared_ptr<HttpRequest> FailingHttpRequestFactory::NewRequest(
    const HttpRequestParams& params, const std::string& proxyAddress) {
  return std::make_shared<FailingHttpRequest>(real_.NewRequest(params, proxyAddress),
                                              shared_from_this(), params.url);
}

bool FailingHttpRequestFactory::Fail(const std::string& url) {
  if (!steps_.Next()) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  injectedUrl_ = url;
  return true;
}

std::string FailingHttpRequestFactory::InjectedUrl() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return injectedUrl_;
}

}  // namespace velmo::test
