#include "velmo/telemetry/JsonHttpAnalyticsManager.h"

#include "velmo/platform/BuildValues.h"
#include "velmo/telemetry/JsonHttpAnalyticsEventWork.h"

namespace velmo {

AnalyticsEndpoints AnalyticsEndpoints::BuiltIn() {
  return AnalyticsEndpoints{build::kAnalyticsEventsUrl ? build::kAnalyticsEventsUrl : "",
                            build::kAnalyticsTransfersUrl ? build::kAnalyticsTransfersUrl : ""};
}

JsonHttpAnalyticsManager::JsonHttpAnalyticsManager(HttpRequestFactory* factory,
                                                   std::shared_ptr<HttpSession> session,
                                                   std::int32_t connectTimeout,
                                                   std::int32_t timeout, std::int32_t retryCount,
                                                   AnalyticsEndpoints endpoints,
                                                   unsigned threadCount)
    : AnalyticsManager(threadCount),
      factory_(factory),
      session_(std::move(session)),
      connectTimeout_(connectTimeout),
      timeout_(timeout),
      retryCount_(retryCount),
      endpoints_(std::move(endpoints)) {}

JsonHttpAnalyticsManager::~JsonHttpAnalyticsManager() {
  JoinWorkManager();
  session_.reset();
}

std::shared_ptr<TrackEventWork> JsonHttpAnalyticsManager::CreateEvent(std::int32_t category) {
  const std::string& url =
      category == kTransferCategory ? endpoints_.transfersUrl : endpoints_.eventsUrl;
  return std::make_shared<JsonHttpAnalyticsEventWork>(category, url, factory_, session_,
                                                      connectTimeout_, timeout_, retryCount_);
}

}  // namespace velmo
