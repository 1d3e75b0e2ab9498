#pragma once

#include <memory>

#include "velmo/engine/TransferBehavior.h"
#include "velmo/engine/TransferParams.h"

namespace velmo {

class Transfer;

// Makes the engine's transfers.
class TransferFactory {
 public:
  TransferFactory() = default;
  virtual ~TransferFactory() = default;
  TransferFactory(const TransferFactory&) = delete;
  TransferFactory& operator=(const TransferFactory&) = delete;
  virtual std::shared_ptr<Transfer> Create(const TransferParams& params,
                                           const TransferBehavior& behavior) = 0;
};

}  // namespace velmo
