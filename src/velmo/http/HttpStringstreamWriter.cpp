#include "velmo/http/HttpStringstreamWriter.h"

namespace velmo {

HttpRequestStatus HttpStringstreamWriter::Write(const char* data, std::size_t size) {
  if (size == 0) {
    return HttpRequestStatus(HttpRequestResult::Success, 0);
  }
  stream_->write(data, static_cast<std::streamsize>(size));
  if (stream_->fail()) {
    return HttpRequestStatus(HttpRequestResult::WriteError, 0);
  }
  return HttpRequestStatus(HttpRequestResult::Success, size);
}

}  // namespace velmo
