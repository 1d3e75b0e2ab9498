#pragma once

#include <curl/curl.h>

#include <cstddef>
#include <mutex>
#include <string>

#include "velmo/http/HttpRequest.h"

namespace velmo {

// An HttpRequest on one libcurl easy handle, run on a multi handle of its own
// so that Cancel takes effect at once: it wakes the waiting transfer
// (curl_multi_wakeup), where a progress callback would only see it at its next
// call, about once a second on a connection that receives nothing. Reset keeps
// both handles, and with them the open connections, so a reused request talks
// to the same host without reconnecting.
//
// Threads: Execute (and the write and progress hooks libcurl calls from it) run on
// the caller's thread; GetStatus and Cancel on any thread; Reset on any thread but
// refused while Execute is in progress. mutex_ guards status_ and performing_; it
// is never held while the transfer runs or a writer is called. Reset holds it for
// the whole reconfiguration so that an Execute cannot start on a half-built handle.
class CurlHttpRequest : public HttpRequest {
 public:
  CurlHttpRequest(const HttpRequestParams& params, const std::string& proxy);
  ~CurlHttpRequest() override;
  CurlHttpRequest(const CurlHttpRequest&) = delete;
  CurlHttpRequest& operator=(const CurlHttpRequest&) = delete;

  HttpRequestStatus Execute() override;
  HttpRequestStatus GetStatus() override;
  void Cancel() override;
  bool Reset(const HttpRequestParams& params, const std::string& proxy) override;

  // The value of CURLOPT_RANGE for params, or empty when no range is asked for.
  static std::string RangeText(const HttpRequestParams& params);
  static constexpr long kReceiveBufferSize = 256L * 1024L;
  // The one place where libcurl codes become our results.
  static HttpRequestResult MapCurlCode(int code, long responseCode);

 private:
  static std::size_t WriteHook(char* data, std::size_t size, std::size_t count, void* self);
  // Keeps the last response's Retry-After value (redirects included: a new
  // status line forgets the earlier one's).
  static std::size_t HeaderHook(char* data, std::size_t size, std::size_t count, void* self);
  static int ProgressHook(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
  void Configure();  // with mutex_ held or before the object is shared
  // The transfer, until it ends or Cancel stops it; libcurl's result.
  CURLcode Perform();

  CURL* handle_ = nullptr;
  CURLM* multi_ = nullptr;
  bool performing_ = false;
  std::mutex mutex_;
  HttpRequestStatus status_;
  curl_slist* headers_ = nullptr;
  std::string range_;                       // kept alive for the handle
  std::string caFile_;                      // kept alive for the handle
  std::string retryAfter_;                  // touched by Execute's thread only
  char errorBuffer_[CURL_ERROR_SIZE] = {};  // libcurl's text for the last failure
};

}  // namespace velmo
