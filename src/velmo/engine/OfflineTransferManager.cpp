#include "velmo/engine/OfflineTransferManager.h"

#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid.hpp>
#include <boost/uuid/uuid_io.hpp>
#include <vector>

#include "velmo/transfer/Transfer.h"

namespace velmo {

std::string NewTransferId() {
  boost::uuids::random_generator generator;
  std::string text = boost::uuids::to_string(generator());
  std::string id;
  id.reserve(32);
  for (const char c : text) {
    if (c != '-') id += c;
  }
  return id;
}

OfflineTransferManager::OfflineTransferManager(TransferFactory* factory) : factory_(factory) {
  transfers_.rehash(11);
  transfers_.max_load_factor(1.0f);
}

std::shared_ptr<Transfer> OfflineTransferManager::Create(const TransferParams& params,
                                                         const TransferBehavior& behavior) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (shutDown_) return nullptr;
  while (true) {
    TransferParams copy = params;
    copy.transferId = NewTransferId();
    std::shared_ptr<Transfer> transfer = factory_->Create(copy, behavior);
    if (transfers_.emplace(copy.transferId, transfer).second) return transfer;
  }
}

std::shared_ptr<Transfer> OfflineTransferManager::Find(const std::string& transferId,
                                                       const TransferBehavior& /*behavior*/) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (shutDown_) return nullptr;
  const auto found = transfers_.find(transferId);
  return found == transfers_.end() ? nullptr : found->second;
}

void OfflineTransferManager::Shutdown() {
  std::vector<std::shared_ptr<Transfer>> transfers;
  {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    shutDown_ = true;
    for (const auto& entry : transfers_) transfers.push_back(entry.second);
  }
  for (const auto& transfer : transfers) transfer->Suspend();
}

}  // namespace velmo
