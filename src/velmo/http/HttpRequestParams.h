#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <utility>

namespace velmo {

class HttpWriteCallback;

// The engine's user agent, fixed for the process.
const std::string& GetHttpUserAgent();

// Describes one HTTP transfer. Copied by value into each request.
struct HttpRequestParams {
  static constexpr std::int32_t kGet = 0;
  static constexpr std::int32_t kPost = 1;
  static constexpr std::uint64_t kRangeEndOpen = std::numeric_limits<std::uint64_t>::max();

  HttpRequestParams(std::string requestUrl, HttpWriteCallback* bodyWriter)
      : url(std::move(requestUrl)), writer(bodyWriter), userAgent(GetHttpUserAgent()) {}

  // A range is sent when either end differs from the whole body.
  bool HasRange() const { return rangeStart > 0 || rangeEnd < kRangeEndOpen; }

  std::string url;
  HttpWriteCallback* writer;  // not owned; must outlive Execute
  std::int32_t method = kGet;
  std::string body;  // sent only with POST
  std::string contentType = "application/x-www-form-urlencoded";
  std::string acceptEncoding;  // only without a range
  std::uint64_t rangeStart = 0;
  std::uint64_t rangeEnd = kRangeEndOpen;  // inclusive
  std::int32_t connectTimeout = 5;         // seconds
  std::int32_t timeout = 0;                // seconds, 0 = none
  std::int32_t lowSpeedLimit = 0;          // bytes per second
  std::int32_t lowSpeedTime = 0;           // seconds
  std::string userAgent;
};

}  // namespace velmo
