#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "velmo/transfer/StandardTransferData.h"
#include "velmo/transfer/TransferWorkInterface.h"
#include "velmo/transfer/works/TailRequestTracker.h"
#include "velmo/work/WorkCallbacks.h"
#include "velmo/work/Workflow.h"

namespace velmo {

class StandardTransfer;

// The face one incarnation of a transfer shows its works. The transfer
// switches it off when it discards the incarnation (suspension, destruction);
// from then on the callbacks of the old tree reach nothing, and a file it
// registers only goes into the record of created files, which the transfer's
// later incarnations share.
//
// Threads: the callbacks run on work-manager threads. Each takes the
// transfer's lock (shared with the transfer, so a callback can never outlive
// the mutex it holds) and checks `active_` under it, so a callback racing with
// the switch-off either runs whole before it or not at all.
class StandardTransferWorkInterface : public TransferWorkInterface,
                                      public WorkflowRetryableErrorCallback {
 public:
  StandardTransferWorkInterface(StandardTransfer* transfer,
                                std::shared_ptr<std::recursive_mutex> transferMutex,
                                std::shared_ptr<StandardTransferData> data);
  StandardTransferWorkInterface(const StandardTransferWorkInterface&) = delete;
  StandardTransferWorkInterface& operator=(const StandardTransferWorkInterface&) = delete;

  TransferParams GetParams() override;
  const TransferParams& GetParamsRef() override { return data_->params; }
  const TransferBehavior& GetBehavior() override { return data_->behavior; }
  std::shared_ptr<PackageManifest> GetPackage() override;
  std::shared_ptr<NodeListManifest> GetNodeList() override;
  std::shared_ptr<TransferProgressUpdater> GetProgressUpdater() override;
  std::shared_ptr<HttpSession> GetSession() override { return data_->session; }
  WorkCompleteCallback* GetWorkCompleteCallback() override { return &workComplete_; }
  WorkCompleteCallback* GetPackageAcquireCallback() override { return &packageAcquire_; }
  WorkCompleteCallback* GetNodeListAcquireCallback() override { return &nodeListAcquire_; }
  WorkCompleteCallback* GetInitializeCallback() override { return &initialize_; }
  WorkflowRetryableErrorCallback* GetRetryableErrorCallback() override { return this; }
  void RegisterFile(const std::string& relativePath) override;
  void RecordFileIdentity(const std::string& relativePath, const FileIdentity& identity) override;
  std::optional<FileIdentity> RecordedFileIdentity(const std::string& relativePath) override;
  std::shared_ptr<TailRequestTracker> GetTailTracker() override { return tail_; }

  void OnWorkflowRetryableError(std::shared_ptr<Workflow> workflow,
                                std::shared_ptr<const Work> work,
                                const WorkStatus& status) override;

  // With the transfer's lock held.
  void Deactivate() { active_ = false; }
  const std::shared_ptr<StandardTransferData>& GetData() const { return data_; }

 private:
  using Handler = void (StandardTransfer::*)(std::unique_lock<std::recursive_mutex>&,
                                             const std::shared_ptr<const Work>&, const WorkStatus&);

  class InternalCallback : public WorkCompleteCallback {
   public:
    using Function = std::function<void(std::shared_ptr<const Work>, const WorkStatus&)>;
    explicit InternalCallback(Function function) : function_(std::move(function)) {}
    void OnWorkComplete(std::shared_ptr<const Work> work, const WorkStatus& status) override {
      function_(std::move(work), status);
    }

   private:
    Function function_;
  };

  void Forward(Handler handler, const std::shared_ptr<const Work>& work, const WorkStatus& status);

  StandardTransfer* const transfer_;
  const std::shared_ptr<std::recursive_mutex> mutex_;
  const std::shared_ptr<StandardTransferData> data_;
  bool active_ = true;          // guarded by *mutex_
  std::mutex identitiesMutex_;  // a leaf lock
  std::unordered_map<std::string, FileIdentity> identities_;
  InternalCallback workComplete_;
  InternalCallback packageAcquire_;
  InternalCallback nodeListAcquire_;
  InternalCallback initialize_;
  // Lives as long as this incarnation and its one work tree (a suspension
  // makes a new work interface, tracker and tree), so the tracker may key
  // files by their TransferSharedFileData, made once per file per tree.
  const std::shared_ptr<TailRequestTracker> tail_ = std::make_shared<TailRequestTracker>();
};

}  // namespace velmo
