#include "velmo/http/CurlHttpRequest.h"

#include <cctype>
#include <cstdlib>
#include <ctime>
#include <stdexcept>
#include <string_view>

#include "velmo/http/HttpWriteCallback.h"
#include "velmo/http/RetryAfter.h"
#include "velmo/platform/System.h"

namespace velmo {
namespace {

// libcurl's global state is set up once for the process, before any thread could
// create a request, and torn down at exit.
class CurlGlobal {
 public:
  CurlGlobal() : ok_(curl_global_init(CURL_GLOBAL_ALL) == CURLE_OK) {}
  ~CurlGlobal() {
    if (ok_) {
      curl_global_cleanup();
    }
  }
  CurlGlobal(const CurlGlobal&) = delete;
  CurlGlobal& operator=(const CurlGlobal&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_;
};

const CurlGlobal& Global() {
  static const CurlGlobal global;
  return global;
}

// Touch it during static initialisation, while the process is still single-threaded.
[[maybe_unused]] const bool kCurlInitialised = Global().ok();

// Takes the code as an int: MapCurlCode sees any number, and a number that
// names no CURLcode must not be read as one.
bool IsTlsFailure(int code) {
  switch (code) {
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
      return true;
    default:
      return false;
  }
}

}  // namespace

CurlHttpRequest::CurlHttpRequest(const HttpRequestParams& params, const std::string& proxy)
    : HttpRequest(params, proxy), status_(HttpRequestResult::NotStarted, 0) {
  if (!Global().ok()) {
    throw std::runtime_error("libcurl could not be initialized");
  }
  handle_ = curl_easy_init();
  if (handle_ == nullptr) {
    throw std::runtime_error("curl_easy_init failed");
  }
  multi_ = curl_multi_init();
  if (multi_ == nullptr) {
    curl_easy_cleanup(handle_);
    throw std::runtime_error("curl_multi_init failed");
  }
  Configure();
}

CurlHttpRequest::~CurlHttpRequest() {
  curl_multi_cleanup(multi_);
  curl_easy_cleanup(handle_);
  curl_slist_free_all(headers_);
}

std::string CurlHttpRequest::RangeText(const HttpRequestParams& params) {
  if (!params.HasRange()) {
    return std::string();
  }
  return std::to_string(params.rangeStart) + "-" + std::to_string(params.rangeEnd);
}

void CurlHttpRequest::Configure() {
  curl_easy_reset(handle_);  // keeps the connection cache
  curl_slist_free_all(headers_);
  headers_ = nullptr;

  curl_easy_setopt(handle_, CURLOPT_URL, params_.url.c_str());
  curl_easy_setopt(handle_, CURLOPT_USERAGENT, params_.userAgent.c_str());
  if (params_.method == HttpRequestParams::kPost) {
    curl_easy_setopt(handle_, CURLOPT_POST, 1L);
    // The size is given so that a body holding a NUL byte is sent whole.
    curl_easy_setopt(handle_, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(params_.body.size()));
    curl_easy_setopt(handle_, CURLOPT_POSTFIELDS, params_.body.c_str());
    headers_ = curl_slist_append(headers_, ("Content-Type: " + params_.contentType).c_str());
  }
  range_ = RangeText(params_);
  if (!range_.empty()) {
    curl_easy_setopt(handle_, CURLOPT_RANGE, range_.c_str());
  } else if (!params_.acceptEncoding.empty()) {
    curl_easy_setopt(handle_, CURLOPT_ACCEPT_ENCODING, params_.acceptEncoding.c_str());
  }
  // Chunks are megabytes: a receive buffer of 256 KiB (libcurl's default is
  // 16 KiB) takes them in a sixteenth of the reads, polls and writer calls.
  curl_easy_setopt(handle_, CURLOPT_BUFFERSIZE, kReceiveBufferSize);
  curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, &CurlHttpRequest::WriteHook);
  curl_easy_setopt(handle_, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(handle_, CURLOPT_HEADERFUNCTION, &CurlHttpRequest::HeaderHook);
  curl_easy_setopt(handle_, CURLOPT_HEADERDATA, this);
  retryAfter_.clear();
  curl_easy_setopt(handle_, CURLOPT_XFERINFOFUNCTION, &CurlHttpRequest::ProgressHook);
  curl_easy_setopt(handle_, CURLOPT_XFERINFODATA, this);
  curl_easy_setopt(handle_, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(handle_, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(handle_, CURLOPT_MAXREDIRS, 1L);
  curl_easy_setopt(handle_, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(handle_, CURLOPT_CONNECTTIMEOUT, static_cast<long>(params_.connectTimeout));
  curl_easy_setopt(handle_, CURLOPT_TIMEOUT, static_cast<long>(params_.timeout));
  if (params_.lowSpeedLimit > 0 && params_.lowSpeedTime > 0) {
    curl_easy_setopt(handle_, CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(params_.lowSpeedLimit));
    curl_easy_setopt(handle_, CURLOPT_LOW_SPEED_TIME, static_cast<long>(params_.lowSpeedTime));
  }
  // An empty proxy is set too: the engine's choice is final and libcurl must not
  // fall back to reading proxy variables of its own.
  curl_easy_setopt(handle_, CURLOPT_PROXY, proxy_.c_str());
  // libcurl would still read no_proxy/NO_PROXY and go direct for a host they
  // name; the engine has already applied the bypass list, so nothing bypasses.
  curl_easy_setopt(handle_, CURLOPT_NOPROXY, "");
  // Timeouts must not raise signals in a multi-threaded process.
  curl_easy_setopt(handle_, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle_, CURLOPT_HTTPHEADER, headers_);
  errorBuffer_[0] = '\0';
  curl_easy_setopt(handle_, CURLOPT_ERRORBUFFER, errorBuffer_);
  // Certificates are always verified (libcurl's defaults, never turned off).
  // A redirect never leaves TLS once a request has used it.
  const bool tls = params_.url.compare(0, 8, "https://") == 0;
  curl_easy_setopt(handle_, CURLOPT_REDIR_PROTOCOLS_STR, tls ? "https" : "http,https");
  // Test and development hook only: tests point this at their own CA so
  // that nginx with a test certificate is trusted without touching the
  // system store. It adds no way to skip verification.
  caFile_ = EnvironmentValue("VELMO_CA_FILE").value_or(std::string());
  if (!caFile_.empty()) curl_easy_setopt(handle_, CURLOPT_CAINFO, caFile_.c_str());
}

HttpRequestResult CurlHttpRequest::MapCurlCode(int code, long responseCode) {
  // No secure connection could be made: for the caller, a connection that
  // failed (another node may do better), with the reason in the message.
  if (IsTlsFailure(code)) return HttpRequestResult::ConnectFailed;
  switch (code) {
    case CURLE_OK:
      return HttpRequestResult::Success;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
    case CURLE_NOT_BUILT_IN:
      return HttpRequestResult::InvalidRequest;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
      return HttpRequestResult::ResolveFailed;
    case CURLE_COULDNT_CONNECT:
      return HttpRequestResult::ConnectFailed;
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_HTTP_RETURNED_ERROR:
    case CURLE_REMOTE_FILE_NOT_FOUND:
      return responseCode >= 500 ? HttpRequestResult::ServerError : HttpRequestResult::ClientError;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
      return HttpRequestResult::NetworkError;
    case CURLE_WRITE_ERROR:
      return HttpRequestResult::WriteError;
    case CURLE_PARTIAL_FILE:
    case CURLE_RANGE_ERROR:
      return HttpRequestResult::RangeError;
    case CURLE_OPERATION_TIMEDOUT:
      return HttpRequestResult::Timeout;
    case CURLE_OUT_OF_MEMORY:
      return HttpRequestResult::OutOfMemory;
    default:
      return HttpRequestResult::UnknownError;
  }
}

HttpRequestStatus CurlHttpRequest::Execute() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (status_.result != HttpRequestResult::NotStarted) {
      return status_;
    }
    performing_ = true;
    status_.result = HttpRequestResult::Running;
  }
  const CURLcode code = Perform();
  long responseCode = 0;
  const bool haveCode =
      curl_easy_getinfo(handle_, CURLINFO_RESPONSE_CODE, &responseCode) == CURLE_OK;
  char* ip = nullptr;
  const bool haveIp = curl_easy_getinfo(handle_, CURLINFO_PRIMARY_IP, &ip) == CURLE_OK;

  std::lock_guard<std::mutex> lock(mutex_);
  if (haveCode) {
    status_.responseCode = static_cast<std::int32_t>(responseCode);
  }
  if (haveIp && ip != nullptr) {
    status_.primaryIp = ip;
  }
  if (AsksToWait(status_.responseCode) && !retryAfter_.empty()) {
    status_.retryAfter = ParseRetryAfter(retryAfter_, std::time(nullptr)).value_or(-1);
  }
  performing_ = false;
  if (status_.result == HttpRequestResult::Running) {
    status_.result = MapCurlCode(code, status_.responseCode);
    if (IsTlsFailure(code)) {
      // Says which TLS check failed (unknown issuer, host name, ...).
      status_.errorMessage = "TLS failure (libcurl error " +
                             std::to_string(static_cast<int>(code)) + "): " +
                             (errorBuffer_[0] != '\0' ? std::string(errorBuffer_)
                                                      : std::string(curl_easy_strerror(code)));
    } else if (code != CURLE_OK) {
      status_.errorMessage = "libcurl error " + std::to_string(static_cast<int>(code)) + " (HTTP " +
                             std::to_string(status_.responseCode) + ")";
    }
  }
  return status_;
}

CURLcode CurlHttpRequest::Perform() {
  const CURLMcode added = curl_multi_add_handle(multi_, handle_);
  if (added != CURLM_OK) {
    return added == CURLM_OUT_OF_MEMORY ? CURLE_OUT_OF_MEMORY : CURLE_FAILED_INIT;
  }
  // The transfer's own end, or this when the multi handle fails or no end
  // is reported (neither happens in practice).
  CURLcode result = CURLE_FAILED_INIT;
  for (;;) {
    int running = 0;
    CURLMcode step = curl_multi_perform(multi_, &running);
    bool done = false;
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
      if (message->msg == CURLMSG_DONE && message->easy_handle == handle_) {
        result = message->data.result;
        done = true;
      }
    }
    if (done || running == 0) break;
    // Cancelled: removing the handle below stops the transfer.
    if (GetStatus().result != HttpRequestResult::Running) {
      result = CURLE_ABORTED_BY_CALLBACK;
      break;
    }
    // Waits for data, libcurl's next timeout (so the request's time limits
    // hold) or a wakeup from Cancel.
    if (step == CURLM_OK) step = curl_multi_poll(multi_, nullptr, 0, 1000, nullptr);
    if (step != CURLM_OK) {
      result = step == CURLM_OUT_OF_MEMORY ? CURLE_OUT_OF_MEMORY : CURLE_FAILED_INIT;
      break;
    }
  }
  curl_multi_remove_handle(multi_, handle_);
  return result;
}

HttpRequestStatus CurlHttpRequest::GetStatus() {
  std::lock_guard<std::mutex> lock(mutex_);
  return status_;
}

void CurlHttpRequest::Cancel() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (status_.result == HttpRequestResult::NotStarted ||
      status_.result == HttpRequestResult::Running) {
    status_.result = HttpRequestResult::Canceled;
    // Safe from any thread; an Execute that is not waiting returns from its
    // next wait at once and sees the status.
    curl_multi_wakeup(multi_);
  }
}

bool CurlHttpRequest::Reset(const HttpRequestParams& params, const std::string& proxy) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (status_.result == HttpRequestResult::Running || performing_) {
    return false;
  }
  params_ = params;
  proxy_ = proxy;
  status_ = HttpRequestStatus(HttpRequestResult::NotStarted, 0);
  Configure();
  return true;
}

std::size_t CurlHttpRequest::WriteHook(char* data, std::size_t size, std::size_t count,
                                       void* self) {
  auto* request = static_cast<CurlHttpRequest*>(self);
  if (request->GetStatus().result != HttpRequestResult::Running) {
    return 0;  // aborts with a write error that Execute ignores
  }
  const std::size_t n = size * count;
  HttpRequestStatus written(HttpRequestResult::WriteError, 0);
  if (request->params_.writer != nullptr) {
    written = request->params_.writer->Write(data, n);
  } else {
    written.errorMessage = "no writer for the response body";
  }
  // A writer cannot accept more than it was offered; counting a larger claim would
  // report bytes that never arrived.
  if (written.bytes > n) {
    written.bytes = n;
    if (written.result == HttpRequestResult::Success) {
      written.result = HttpRequestResult::WriteError;
    }
  }
  {
    std::lock_guard<std::mutex> lock(request->mutex_);
    request->status_.bytes += written.bytes;
    if (request->status_.result == HttpRequestResult::Running &&
        written.result != HttpRequestResult::Success) {
      request->status_.result = (written.result == HttpRequestResult::RangeError ||
                                 written.result == HttpRequestResult::OutOfMemory)
                                    ? written.result
                                    : HttpRequestResult::WriteError;
      request->status_.errorMessage = written.errorMessage;
    }
  }
  return static_cast<std::size_t>(written.bytes);
}

std::size_t CurlHttpRequest::HeaderHook(char* data, std::size_t size, std::size_t count,
                                        void* self) {
  auto* request = static_cast<CurlHttpRequest*>(self);
  const std::size_t n = size * count;
  const std::string_view line(data, n);
  constexpr std::string_view kName = "retry-after:";
  if (line.compare(0, 5, "HTTP/") == 0) {
    request->retryAfter_.clear();
  } else if (line.size() > kName.size()) {
    bool named = true;
    for (std::size_t i = 0; i < kName.size() && named; ++i) {
      named = static_cast<char>(std::tolower(static_cast<unsigned char>(line[i]))) == kName[i];
    }
    // Only the start of an absurdly long value is kept.
    if (named) request->retryAfter_.assign(line.substr(kName.size(), 64));
  }
  return n;
}

int CurlHttpRequest::ProgressHook(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto* request = static_cast<CurlHttpRequest*>(self);
  return request->GetStatus().result == HttpRequestResult::Running ? 0 : 42;
}

}  // namespace velmo
