#include "velmo/transfer/works/TransferHttpWriter.h"

#include "velmo/transfer/TransferProgressUpdater.h"
#include "velmo/transfer/works/TransferSharedMapData.h"

namespace velmo {

HttpRequestStatus TransferHttpWriter::Write(const char* data, std::size_t size) {
  HttpRequestStatus status = HttpBoundedFileDataWriter::Write(data, size);
  if (status.bytes != 0) {
    chunk_->fileProgressBytes += status.bytes;
    if (chunk_->progress) {
      chunk_->progress->AddProgress(status.bytes);
      chunk_->progress->AddDownloaded(status.bytes);
    }
  }
  return status;
}

}  // namespace velmo
