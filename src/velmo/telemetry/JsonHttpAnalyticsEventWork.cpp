#include "velmo/telemetry/JsonHttpAnalyticsEventWork.h"

#include "velmo/http/HttpRequest.h"
#include "velmo/http/HttpRequestFactory.h"
#include "velmo/http/HttpRequestParams.h"
#include "velmo/http/HttpWriteCallback.h"
#include "velmo/telemetry/JsonWriter.h"

namespace velmo {

namespace {

// The endpoints' answers are never read. Counting and dropping the body keeps a
// misbehaving endpoint from filling memory with an endless reply for the
// whole of the request timeout.
class DiscardingWriter : public HttpWriteCallback {
 public:
  HttpRequestStatus Write(const char* /*data*/, std::size_t size) override {
    return HttpRequestStatus(HttpRequestResult::Success, size);
  }
};

}  // namespace

JsonHttpAnalyticsEventWork::JsonHttpAnalyticsEventWork(std::int32_t category, std::string url,
                                                       HttpRequestFactory* factory,
                                                       std::shared_ptr<HttpSession> session,
                                                       std::int32_t connectTimeout,
                                                       std::int32_t timeout,
                                                       std::int32_t retryCount)
    : TrackEventWork(category),
      url_(std::move(url)),
      factory_(factory),
      session_(std::move(session)),
      connectTimeout_(connectTimeout),
      timeout_(timeout),
      retryCount_(retryCount) {}

void JsonHttpAnalyticsEventWork::Describe(boost::property_tree::ptree& out) const {
  out.put("name", "JsonHttpAnalyticsEventWork");
}

bool JsonHttpAnalyticsEventWork::CanRetry() {
  if (retries_ < retryCount_) {
    ++retries_;
    return true;
  }
  return false;
}

void JsonHttpAnalyticsEventWork::Reset() {
  TrackEventWork::Reset();
  retries_ = 0;
}

WorkStatus JsonHttpAnalyticsEventWork::ExecuteTask() {
  std::string body;
  try {
    body = ToJson(GetTree());
  } catch (...) {
    return WorkStatus(WorkResult::Fatal, nullptr);
  }
  if (url_.empty() || factory_ == nullptr) return WorkStatus(WorkResult::Success, nullptr);

  DiscardingWriter writer;
  HttpRequestParams params(url_, &writer);
  params.method = 1;
  params.contentType = "application/json";
  params.body = std::move(body);
  params.connectTimeout = connectTimeout_;
  params.timeout = timeout_;
  std::shared_ptr<HttpRequest> request = factory_->Create(params, session_);
  const HttpRequestStatus status = request->Execute();
  switch (status.result) {
    case HttpRequestResult::Success:
      return WorkStatus(WorkResult::Success, nullptr);
    case HttpRequestResult::ConnectFailed:
    case HttpRequestResult::ServerError:
      return WorkStatus(WorkResult::RetryableError, nullptr);
    default:
      return WorkStatus(WorkResult::Fatal, nullptr);
  }
}

}  // namespace velmo
