#pragma once

#include <cstdint>
#include <string>

namespace velmo {

// Outcome classes of an HTTP request (and of one writer call). The numbers are
// fixed: they are written into status text and JSON.
enum class HttpRequestResult : std::uint8_t {
  NotStarted = 0,
  Running = 1,
  Success = 2,
  Canceled = 3,
  InvalidRequest = 4,
  ResolveFailed = 5,
  ConnectFailed = 6,
  ClientError = 7,
  ServerError = 8,
  NetworkError = 9,
  WriteError = 10,
  RangeError = 11,
  Timeout = 12,
  OutOfMemory = 13,
  UnknownError = 14,
};

// The state of a request, or the result of one writer call.
struct HttpRequestStatus {
  HttpRequestStatus(HttpRequestResult outcome = HttpRequestResult::NotStarted,
                    std::uint64_t byteCount = 0)
      : result(outcome), bytes(byteCount) {}

  HttpRequestResult result;
  std::uint64_t bytes;
  std::int32_t responseCode = 0;
  // Seconds a 429 or 503 answer asked the client to wait (its Retry-After,
  // from the moment it arrived); -1 when it did not say or said nothing
  // readable.
  std::int32_t retryAfter = -1;
  std::string primaryIp;
  std::string errorMessage;
};

}  // namespace velmo
