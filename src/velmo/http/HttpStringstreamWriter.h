#pragma once

#include <sstream>

#include "velmo/http/HttpWriteCallback.h"

namespace velmo {

// Collects a small response (a manifest, an analytics reply) in a caller-owned stream.
class HttpStringstreamWriter : public HttpWriteCallback {
 public:
  explicit HttpStringstreamWriter(std::stringstream* stream) : stream_(stream) {}
  HttpRequestStatus Write(const char* data, std::size_t size) override;

 private:
  std::stringstream* stream_;
};

}  // namespace velmo
