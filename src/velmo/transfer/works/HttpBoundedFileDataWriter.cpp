#include "velmo/transfer/works/HttpBoundedFileDataWriter.h"

#include <limits>
#include <new>

#include "velmo/file/BoundedFileData.h"
#include "velmo/file/FileException.h"

namespace velmo {

HttpRequestStatus HttpBoundedFileDataWriter::Write(const char* data, std::size_t size) {
  if (size == 0) return HttpRequestStatus(HttpRequestResult::Success, 0);
  try {
    if (size > std::numeric_limits<std::uint32_t>::max()) {
      throw FileOutOfBoundsException();
    }
    const std::uint32_t n = data_->Write(data, static_cast<std::uint32_t>(size));
    return HttpRequestStatus(n == size ? HttpRequestResult::Success : HttpRequestResult::WriteError,
                             n);
  } catch (const FileOutOfBoundsException& e) {
    HttpRequestStatus status(HttpRequestResult::RangeError, 0);
    status.errorMessage = e.what();
    return status;
  } catch (const std::bad_alloc&) {
    return HttpRequestStatus(HttpRequestResult::OutOfMemory, 0);
  } catch (const std::exception& e) {
    HttpRequestStatus status(HttpRequestResult::WriteError, 0);
    status.errorMessage = e.what();
    return status;
  }
}

}  // namespace velmo
