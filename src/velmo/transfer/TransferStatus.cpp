#include "velmo/transfer/TransferStatus.h"

namespace velmo {

bool IsFinal(const TransferStatus& status) {
  switch (status.state) {
    case TransferState::Invalid:
    case TransferState::Suspended:
    case TransferState::Completed:
    case TransferState::Canceled:
      return true;
    default:
      return status.error != TransferError::None && !status.retryable;
  }
}

const char* ErrorName(TransferError error) {
  switch (error) {
    case TransferError::None:
      return "None";
    case TransferError::ManifestError:
      return "ManifestError";
    case TransferError::ConnectionError:
      return "ConnectionError";
    case TransferError::OutOfMemory:
      return "OutOfMemory";
    case TransferError::InsufficientDiskSpace:
      return "InsufficientDiskSpace";
    case TransferError::FileAccessError:
      return "FileAccessError";
    case TransferError::ChecksumMismatch:
      return "ChecksumMismatch";
    case TransferError::FileError:
      return "FileError";
    case TransferError::RequestError:
      return "RequestError";
    case TransferError::UnexpectedError:
      return "UnexpectedError";
  }
  return "UnknownError";
}

const char* StateName(TransferState state) {
  switch (state) {
    case TransferState::Invalid:
      return "Invalid";
    case TransferState::Initializing:
      return "Initializing";
    case TransferState::InitializingPaused:
      return "InitializingPaused";
    case TransferState::Initialized:
      return "Initialized";
    case TransferState::Transferring:
      return "Transferring";
    case TransferState::TransferringPaused:
      return "TransferringPaused";
    case TransferState::Suspended:
      return "Suspended";
    case TransferState::Completed:
      return "Completed";
    case TransferState::Canceled:
      return "Canceled";
  }
  return "UnknownState";
}

}  // namespace velmo
