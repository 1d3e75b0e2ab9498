#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "velmo/transfer/StandardTransferData.h"
#include "velmo/transfer/StandardTransferWorkInterface.h"
#include "velmo/transfer/Transfer.h"
#include "velmo/transfer/TransferError.h"

namespace velmo {

class TransferEvent;
class TransferWorkflowFactory;
class Workflow;
class WorkStatusData;

// The state machine of one transfer: the only place its state changes. Callers
// drive it with the public operations; its work tree reports back through the
// handlers, which the work interface calls with the transfer's lock held.
//
// Threads: public operations come from the application's threads, handlers
// from work-manager threads. `mutex_` (recursive: a workflow can report back
// into the transfer on the thread that called it) guards every field and the
// data record. Lock order: the transfer's lock, then the workflow's. Events are
// made under the lock (they take the report marks of that moment) and
// dispatched after it is released, so event sinks may call the transfer; the
// workflow is canceled without the lock.
class StandardTransfer : public Transfer {
 public:
  using Lock = std::unique_lock<std::recursive_mutex>;

  StandardTransfer(const TransferParams& params, const TransferBehavior& behavior,
                   TransferWorkflowFactory* workflowFactory);
  ~StandardTransfer() override;
  StandardTransfer(const StandardTransfer&) = delete;
  StandardTransfer& operator=(const StandardTransfer&) = delete;

  TransferStatus Initialize() override;
  TransferStatus Start(const std::string& destinationFolder) override;
  bool HasEnoughDiskSpace(const std::string& folder) override;
  TransferStatus GetStatus() override;
  TransferStatus Cancel(bool deleteFiles) override;
  TransferStatus Pause() override;
  TransferStatus Resume() override;
  TransferStatus Retry() override;
  TransferStatus Suspend() override;
  TransferStatus Restore() override;
  std::shared_ptr<TransferWorkInterface> GetWorkInterface() override;
  std::string GetNodeStatistics() override;

  // The locked bodies; each may release `lock` to emit its event.
  virtual TransferStatus Initialize(Lock& lock);
  virtual TransferStatus Start(Lock& lock, const std::string& destinationFolder);
  virtual TransferStatus GetStatus(Lock& lock);
  virtual TransferStatus Cancel(Lock& lock, bool deleteFiles);
  virtual TransferStatus Pause(Lock& lock);
  virtual TransferStatus Resume(Lock& lock);
  virtual TransferStatus Retry(Lock& lock);
  virtual TransferStatus Suspend(Lock& lock);
  virtual TransferStatus Restore(Lock& lock);

  // Handlers, called by the work interface with the lock held.
  virtual void OnWorkComplete(Lock& lock, std::shared_ptr<const Work> work,
                              const WorkStatus& status);
  virtual void OnPackageAcquire(Lock& lock, std::shared_ptr<const Work> work,
                                const WorkStatus& status);
  virtual void OnNodeListAcquire(Lock& lock, std::shared_ptr<const Work> work,
                                 const WorkStatus& status);
  virtual void OnInitialize(Lock& lock, std::shared_ptr<const Work> work, const WorkStatus& status);
  virtual void OnWorkflowRetryableError(Lock& lock, std::shared_ptr<Workflow> workflow,
                                        std::shared_ptr<const Work> work, const WorkStatus& status);
  virtual void RegisterFile(Lock& lock, const std::string& relativePath);

 protected:
  // True when nothing more happens to the transfer without a new request.
  bool IsFinal() const;
  TransferStatus Snapshot();
  // Releases `lock`, then dispatches `event`; returns the status of the moment
  // before the release.
  TransferStatus Emit(Lock& lock, std::unique_ptr<TransferEvent> event);
  void Fail(Lock& lock, const std::shared_ptr<const Work>& work, const std::string& message,
            TransferError error);
  void SetFinalState(TransferState state);
  void ReleaseWorkflow();
  void CreateWorkflow();
  void ResetData();
  bool IsProgressComplete() const;
  struct TransferEventContext Context() const;

  std::shared_ptr<std::recursive_mutex> mutex_;
  TransferWorkflowFactory* const workflowFactory_;
  std::shared_ptr<StandardTransferData> data_;
  std::shared_ptr<StandardTransferWorkInterface> workInterface_;
  std::shared_ptr<Workflow> workflow_;
};

}  // namespace velmo
