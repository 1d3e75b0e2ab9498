#include "velmo/engine/TempFileTransferManager.h"

#include "velmo/engine/TransferBehavior.h"
#include "velmo/telemetry/LogLevel.h"
#include "velmo/telemetry/TrackEventWork.h"
#include "velmo/telemetry/WorkLogManager.h"

namespace velmo {

namespace {

void LogSetAside(const TransferBehavior& behavior, const std::string& transferId,
                 const std::string& asideName, const std::string& reason) {
  WorkLogManager* log = behavior.workLog;
  if (log == nullptr) return;
  using boost::property_tree::ptree;
  std::shared_ptr<TrackEventWork> work = log->CreateEvent(kLogWorkFailure | kLogImportant);
  ptree& tree = work->GetTree();
  tree.push_back(ptree::value_type("event", ptree("StoredTransferSetAside")));
  tree.push_back(ptree::value_type("transferId", ptree(transferId)));
  tree.push_back(ptree::value_type("file", ptree(asideName)));
  tree.push_back(ptree::value_type("reason", ptree(reason)));
  log->Submit(std::move(work));
}

}  // namespace

std::shared_ptr<Transfer> TempFileTransferManager::Find(const std::string& transferId,
                                                        const TransferBehavior& behavior) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (std::shared_ptr<Transfer> transfer = OfflineTransferManager::Find(transferId, behavior)) {
    return transfer;
  }
  if (store_ == nullptr) return nullptr;
  TransferManifest manifest;
  std::string reason;
  StoredDocument found = store_->TryLoad(transferId, manifest, &reason);
  if (found == StoredDocument::Loaded && manifest.params.transferId != transferId) {
    found = StoredDocument::Unusable;
    reason = "the document names transfer " + manifest.params.transferId;
  }
  if (found == StoredDocument::Unusable) {
    // A document cut short by a crash, or one that is not ours, would
    // otherwise keep its name taken for good. It is kept under another name
    // for a person to look at; the files already downloaded stay, and a new
    // transfer into the same folder verifies and keeps their whole chunks.
    std::string asideName;
    if (store_->SetAside(transferId, &asideName)) {
      LogSetAside(behavior, transferId, asideName, reason);
    }
    return nullptr;
  }
  // A document that cannot be read (no access, the disk) stays where it is:
  // nothing is wrong with it that a person could see by looking at it aside.
  if (found != StoredDocument::Loaded) return nullptr;
  manifest.params.restored = 1;
  std::shared_ptr<Transfer> transfer = factory_->Create(manifest.params, behavior);
  // Never replaces an entry: after shutdown the table may still hold the id.
  transfers_.emplace(transferId, transfer);
  return transfer;
}

}  // namespace velmo
