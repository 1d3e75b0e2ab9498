#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>

#include "velmo/engine/TransferBehavior.h"
#include "velmo/engine/TransferParams.h"
#include "velmo/transfer/TransferState.h"

namespace velmo {

class HttpSession;
class NodeListManifest;
class PackageManifest;
class TransferStatusImpl;

// Everything one incarnation of a transfer knows. A suspension replaces it
// whole, so works of the discarded tree keep a consistent (if stale) view.
//
// Written only under the transfer's lock. Works read it from their threads
// without that lock (taking it there would invert the order transfer lock ->
// workflow -> composite locks), so: `params` is changed and copied under
// `paramsMutex`, a leaf lock; `package` and `nodeList` are published with the
// atomic shared_ptr operations; the status counts atomically.
struct StandardTransferData {
  // The status begins in `initialState`: Initializing for a new transfer, the
  // state the old incarnation ended in for a replacement.
  StandardTransferData(const TransferParams& params, const TransferBehavior& behavior,
                       TransferState initialState = TransferState::Initializing);

  mutable std::mutex paramsMutex;
  TransferParams params;
  TransferBehavior behavior;
  std::shared_ptr<TransferStatusImpl> status;
  std::shared_ptr<PackageManifest> package;
  std::shared_ptr<NodeListManifest> nodeList;
  std::shared_ptr<HttpSession> session;
  bool filesDeleted = false;
  std::unordered_set<std::string> createdFiles;

  TransferParams CopyParams() const {
    std::lock_guard<std::mutex> lock(paramsMutex);
    return params;
  }
  std::shared_ptr<PackageManifest> LoadPackage() const { return std::atomic_load(&package); }
  std::shared_ptr<NodeListManifest> LoadNodeList() const { return std::atomic_load(&nodeList); }
};

}  // namespace velmo
