#pragma once

// The analytics sender. Reports are created on whatever thread dispatches a
// transfer event and sent by the manager's own threads (3 in the program), so
// up to that many reports are in flight at once, all sharing one HTTP session
// and its pool of connections. The manager holds no lock: its fields are fixed
// at construction, and each report work owns copies of what it needs.
//
// Destruction first drains the queue: every report already submitted is
// attempted (at most 1 + retryCount times, each bounded by the timeouts) before
// the threads end; then the session is released.

#include <cstdint>
#include <memory>
#include <string>

#include "velmo/telemetry/AnalyticsManager.h"

namespace velmo {

class HttpRequestFactory;
class HttpSession;

struct AnalyticsEndpoints {
  std::string eventsUrl;     // every category but 32
  std::string transfersUrl;  // category 32

  // The endpoints built into the program (empty in the default branding, which
  // disables sending).
  static AnalyticsEndpoints BuiltIn();
};

class JsonHttpAnalyticsManager : public AnalyticsManager {
 public:
  static constexpr std::int32_t kTransferCategory = 32;
  static constexpr unsigned kThreadCount = 3;

  JsonHttpAnalyticsManager(HttpRequestFactory* factory, std::shared_ptr<HttpSession> session,
                           std::int32_t connectTimeout, std::int32_t timeout,
                           std::int32_t retryCount,
                           AnalyticsEndpoints endpoints = AnalyticsEndpoints::BuiltIn(),
                           unsigned threadCount = kThreadCount);
  ~JsonHttpAnalyticsManager() override;

  // A JsonHttpAnalyticsEventWork for the transfers endpoint when `category` is
  // 32, else for the events endpoint.
  std::shared_ptr<TrackEventWork> CreateEvent(std::int32_t category) override;

 private:
  HttpRequestFactory* const factory_;
  std::shared_ptr<HttpSession> session_;
  const std::int32_t connectTimeout_;
  const std::int32_t timeout_;
  const std::int32_t retryCount_;
  const AnalyticsEndpoints endpoints_;
};

}  // namespace velmo
