#pragma once

#include <mutex>
#include <unordered_map>

#include "velmo/engine/TransferFactory.h"
#include "velmo/engine/TransferManager.h"

namespace velmo {

// Transfers held in memory for the life of the manager, whatever their state.
//
// Threads: Create and Find come from the dialog and the monitor at once;
// `mutex_` (recursive: a derived Find calls this one while holding it) guards
// the table and the shut-down flag, and transfers are constructed under it.
// Transfers are called without it, except for the suspension at shutdown,
// which runs after it is released.
class OfflineTransferManager : public TransferManager {
 public:
  explicit OfflineTransferManager(TransferFactory* factory);
  std::shared_ptr<Transfer> Create(const TransferParams& params,
                                   const TransferBehavior& behavior) override;
  std::shared_ptr<Transfer> Find(const std::string& transferId,
                                 const TransferBehavior& behavior) override;
  void Shutdown() override;

 protected:
  TransferFactory* const factory_;
  std::recursive_mutex mutex_;
  std::unordered_map<std::string, std::shared_ptr<Transfer>> transfers_;
  bool shutDown_ = false;
};

}  // namespace velmo
