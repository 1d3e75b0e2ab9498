#pragma once

#include <memory>
#include <string>

#include "velmo/engine/TransferBehavior.h"
#include "velmo/engine/TransferParams.h"

namespace velmo {

class Transfer;

// The table behind transfer ids. No operation reports an error: a failure is
// an empty pointer.
class TransferManager {
 public:
  TransferManager() = default;
  virtual ~TransferManager() = default;
  TransferManager(const TransferManager&) = delete;
  TransferManager& operator=(const TransferManager&) = delete;
  // A new transfer with a fresh id, or empty once shut down.
  virtual std::shared_ptr<Transfer> Create(const TransferParams& params,
                                           const TransferBehavior& behavior) = 0;
  virtual std::shared_ptr<Transfer> Find(const std::string& transferId,
                                         const TransferBehavior& behavior) = 0;
  // No transfer is created or found from now on; every transfer is suspended.
  virtual void Shutdown() = 0;
};

// 32 lowercase hexadecimal digits of a random (version 4) UUID.
std::string NewTransferId();

}  // namespace velmo
