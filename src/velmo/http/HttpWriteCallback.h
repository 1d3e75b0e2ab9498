#pragma once

#include <cstddef>

#include "velmo/http/HttpRequestStatus.h"

namespace velmo {

// Receives a response body block by block, on the thread that runs Execute.
// Accepting fewer bytes than offered ends the transfer with WriteError.
class HttpWriteCallback {
 public:
  virtual ~HttpWriteCallback() = default;
  virtual HttpRequestStatus Write(const char* data, std::size_t size) = 0;
};

}  // namespace velmo
