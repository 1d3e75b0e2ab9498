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

// The destination files of a transfer's file works. The record outlives the
// incarnations of the data: a suspension discards what the transfer knew, not
// what it put on disk, and a cancellation with deletion removes the files of
// every incarnation. Guarded by the transfer's lock.
struct CreatedFiles {
  bool deleted = false;  // removed by a cancellation: a file registered later goes at once
  std::unordered_set<std::string> paths;
};

// Everything one incarnation of a transfer knows. A suspension replaces it
// whole, so works of the discarded tree keep a consistent (if stale) view;
// only the record of created files passes to the new incarnation.
//
// Written only under the transfer's lock. Works read it from their threads
// without that lock (taking it there would invert the order transfer lock ->
// workflow -> composite locks), so: `params` is changed and copied under
// `paramsMutex`, a leaf lock; `package` and `nodeList` are published with the
// atomic shared_ptr operations; the status counts atomically.
struct StandardTransferData {
  // The status begins in `initialState`: Initializing for a new transfer, the
  // state the old incarnation ended in for a replacement, which also takes
  // over the old one's `createdFiles`.
  StandardTransferData(const TransferParams& params, const TransferBehavior& behavior,
                       TransferState initialState = TransferState::Initializing,
                       std::shared_ptr<CreatedFiles> files = nullptr);

  mutable std::mutex paramsMutex;
  TransferParams params;
  TransferBehavior behavior;
  std::shared_ptr<TransferStatusImpl> status;
  std::shared_ptr<PackageManifest> package;
  std::shared_ptr<NodeListManifest> nodeList;
  std::shared_ptr<HttpSession> session;
  std::shared_ptr<CreatedFiles> createdFiles;

  TransferParams CopyParams() const {
    std::lock_guard<std::mutex> lock(paramsMutex);
    return params;
  }
  std::shared_ptr<PackageManifest> LoadPackage() const { return std::atomic_load(&package); }
  std::shared_ptr<NodeListManifest> LoadNodeList() const { return std::atomic_load(&nodeList); }
  // Records a destination file of a file work, or removes it at once when
  // the files are already deleted. With the transfer's lock held.
  void RegisterFile(const std::string& relativePath);
};

}  // namespace velmo
