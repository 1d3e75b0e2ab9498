#pragma once

// One analytics report: the tree is posted as JSON to one endpoint. Runs on the
// analytics sender's threads; a ConnectFailed or ServerError outcome is repeated
// in place while CanRetry allows it (retryCount times), every other failure is
// final. Nothing in the engine waits for the outcome.

#include <cstdint>
#include <memory>
#include <string>

#include "velmo/telemetry/TrackEventWork.h"

namespace velmo {

class HttpRequestFactory;
class HttpSession;

class JsonHttpAnalyticsEventWork : public TrackEventWork {
 public:
  // An empty `url` disables sending: the work then succeeds without a request.
  JsonHttpAnalyticsEventWork(std::int32_t category, std::string url, HttpRequestFactory* factory,
                             std::shared_ptr<HttpSession> session, std::int32_t connectTimeout,
                             std::int32_t timeout, std::int32_t retryCount);

  void Describe(boost::property_tree::ptree& out) const override;
  bool CanRetry() override;
  void Reset() override;
  WorkStatus ExecuteTask() override;

  const std::string& GetUrl() const { return url_; }

 private:
  const std::string url_;
  HttpRequestFactory* const factory_;
  const std::shared_ptr<HttpSession> session_;
  const std::int32_t connectTimeout_;
  const std::int32_t timeout_;
  // Touched only by the thread that runs the work (Run asks CanRetry between
  // attempts), and by Reset before it runs again.
  std::int32_t retries_ = 0;
  const std::int32_t retryCount_;
};

}  // namespace velmo
