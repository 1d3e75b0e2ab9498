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

}  // namespace velmo
