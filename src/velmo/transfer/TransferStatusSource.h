#pragma once

#include <string>

#include "velmo/transfer/TransferStatus.h"

namespace velmo {

// Where the transfer monitor gets its snapshots: the engine's transfer facade
// implements it. Answers every id, an unknown one with state Invalid, and may
// be called from the monitor's thread while other threads use the engine.
class TransferStatusSource {
 public:
  virtual ~TransferStatusSource() = default;
  virtual TransferStatus GetTransferStatus(const std::string& transferId) = 0;
};

}  // namespace velmo
