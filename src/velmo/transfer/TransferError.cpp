#include "velmo/transfer/TransferError.h"

namespace velmo {

std::string ToString(TransferError error) { return std::to_string(static_cast<unsigned>(error)); }

std::string FormatErrorDiagnostic(TransferError error, std::initializer_list<std::string> fields) {
  std::string line = "error|" + ToString(error);
  for (const std::string& field : fields) {
    line += '|';
    line += field;
  }
  return line;
}

TransferError TransferErrorFromHttpResult(unsigned httpResult) {
  // Indexed by HttpRequestResult: NotStarted, Running, Success, Canceled,
  // InvalidRequest, ResolveFailed, ConnectFailed, ClientError, ServerError,
  // NetworkError, WriteError, RangeError, Timeout, OutOfMemory, UnknownError.
  static const TransferError kTable[] = {
      TransferError::UnexpectedError,  // NotStarted: a request that never ran has no outcome
      TransferError::UnexpectedError,  // Running
      TransferError::None,             // Success
      TransferError::None,             // Canceled: stopped on purpose, not a failure
      TransferError::RequestError,     // InvalidRequest
      TransferError::ConnectionError,  // ResolveFailed
      TransferError::ConnectionError,  // ConnectFailed
      TransferError::ConnectionError,  // ClientError
      TransferError::ConnectionError,  // ServerError
      TransferError::ConnectionError,  // NetworkError
      TransferError::FileError,        // WriteError: the response could not be stored
      TransferError::ConnectionError,  // RangeError
      TransferError::ConnectionError,  // Timeout
      TransferError::OutOfMemory,      // OutOfMemory
      TransferError::RequestError,     // UnknownError
  };
  constexpr unsigned kCount = sizeof kTable / sizeof kTable[0];
  return httpResult < kCount ? kTable[httpResult] : TransferError::UnexpectedError;
}

}  // namespace velmo
