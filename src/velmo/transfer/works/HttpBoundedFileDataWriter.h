#pragma once

#include <memory>

#include "velmo/http/HttpWriteCallback.h"

namespace velmo {

class BoundedFileData;

// Writes a response body straight into a bounded file region (a chunk's
// view). Bytes beyond the region end the request as a RangeError: the server
// sent more than the range asked for.
class HttpBoundedFileDataWriter : public HttpWriteCallback {
 public:
  explicit HttpBoundedFileDataWriter(std::shared_ptr<BoundedFileData> data)
      : data_(std::move(data)) {}
  HttpRequestStatus Write(const char* data, std::size_t size) override;

 private:
  std::shared_ptr<BoundedFileData> data_;
};

}  // namespace velmo
