#pragma once

#include <memory>
#include <optional>
#include <string>

#include "velmo/engine/TransferBehavior.h"
#include "velmo/engine/TransferParams.h"
#include "velmo/file/SharedFile.h"

namespace velmo {

class PackageManifest;
class NodeListManifest;
class HttpSession;
class TransferProgressUpdater;
class WorkCompleteCallback;
class WorkflowRetryableErrorCallback;
class TailRequestTracker;

// What the works of a transfer see of it. The transfer implements it and can
// switch it off, after which the callbacks no longer reach the transfer.
//
// Threads: every accessor may be called from any work-manager thread, and
// none takes the transfer's lock (a work reading under it would invert the
// order transfer lock -> workflow -> composite locks): GetParams copies under
// a leaf mutex of its own, the manifests are published atomically. The
// callbacks and RegisterFile take the transfer's lock themselves, so they are
// called with no workflow or composite lock held.
class TransferWorkInterface {
 public:
  virtual ~TransferWorkInterface() = default;
  virtual TransferParams GetParams() = 0;  // a copy, under the parameters' leaf mutex
  // Without any lock: only for fields that no longer change while works run
  // (the destination is set by Start before the files' works exist).
  virtual const TransferParams& GetParamsRef() = 0;
  virtual const TransferBehavior& GetBehavior() = 0;
  virtual std::shared_ptr<PackageManifest> GetPackage() = 0;    // empty until acquired
  virtual std::shared_ptr<NodeListManifest> GetNodeList() = 0;  // empty until acquired
  virtual std::shared_ptr<TransferProgressUpdater> GetProgressUpdater() = 0;
  virtual std::shared_ptr<HttpSession> GetSession() = 0;
  virtual WorkCompleteCallback* GetWorkCompleteCallback() = 0;
  virtual WorkCompleteCallback* GetPackageAcquireCallback() = 0;
  virtual WorkCompleteCallback* GetNodeListAcquireCallback() = 0;
  virtual WorkCompleteCallback* GetInitializeCallback() = 0;
  virtual WorkflowRetryableErrorCallback* GetRetryableErrorCallback() = 0;
  // A destination file a work created, so that a discarded transfer can remove it.
  virtual void RegisterFile(const std::string& relativePath) = 0;
  // The file a file work opened for `relativePath` in this incarnation, so
  // that the end of the transfer can tell it is still there. Any thread.
  virtual void RecordFileIdentity(const std::string& /*relativePath*/,
                                  const FileIdentity& /*identity*/) {}
  virtual std::optional<FileIdentity> RecordedFileIdentity(const std::string& /*relativePath*/) {
    return std::nullopt;
  }
  // Which chunks are being requested, for the requests of a download's tail;
  // none (no tail requests) unless the transfer keeps one.
  virtual std::shared_ptr<TailRequestTracker> GetTailTracker() { return nullptr; }
};

}  // namespace velmo
