#pragma once

#include <memory>

#include "velmo/transfer/works/HttpBoundedFileDataWriter.h"

namespace velmo {

class TransferSharedMapData;

// The chunk writer: every accepted byte also counts as the chunk's progress
// and as bytes downloaded.
class TransferHttpWriter : public HttpBoundedFileDataWriter {
 public:
  TransferHttpWriter(std::shared_ptr<BoundedFileData> data,
                     std::shared_ptr<TransferSharedMapData> chunk)
      : HttpBoundedFileDataWriter(std::move(data)), chunk_(std::move(chunk)) {}
  HttpRequestStatus Write(const char* data, std::size_t size) override;

 private:
  std::shared_ptr<TransferSharedMapData> chunk_;
};

}  // namespace velmo
