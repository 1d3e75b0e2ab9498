#include "velmo/transfer/TransferFailureStatus.h"

#include <exception>
#include <new>

#include "velmo/manifest/ManifestExceptions.h"
#include "velmo/transfer/TransferExceptionData.h"
#include "velmo/transfer/TransferFileExceptionData.h"

namespace velmo {

WorkStatus FileFailureStatus(const std::string& path) {
  auto data = MakeTransferFileExceptionData(path);
  return WorkStatus(data->IsRetryable() ? WorkResult::RetryableError : WorkResult::Fatal, data);
}

WorkStatus ManifestFailureStatus(const std::string& url) {
  const std::exception_ptr current = std::current_exception();
  WorkResult result = WorkResult::Fatal;
  TransferError error = TransferError::UnexpectedError;
  try {
    if (current) std::rethrow_exception(current);
  } catch (const ManifestStreamException&) {
    result = WorkResult::RetryableError;
    error = TransferError::ConnectionError;
  } catch (const ManifestException&) {
    error = TransferError::ManifestError;
  } catch (const std::bad_alloc&) {
    error = TransferError::OutOfMemory;
  } catch (...) {
  }
  return WorkStatus(result, std::make_shared<TransferExceptionData>(error, current, url));
}

WorkStatus UnexpectedFailureStatus() {
  const std::exception_ptr current = std::current_exception();
  TransferError error = TransferError::UnexpectedError;
  try {
    if (current) std::rethrow_exception(current);
  } catch (const std::bad_alloc&) {
    error = TransferError::OutOfMemory;
  } catch (...) {
  }
  return WorkStatus(WorkResult::Fatal, std::make_shared<TransferExceptionData>(error, current));
}

}  // namespace velmo
