#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "velmo/transfer/StandardTransferData.h"
#include "velmo/transfer/StandardTransferWorkInterface.h"
#include "velmo/transfer/Transfer.h"
#include "velmo/transfer/TransferError.h"
#include "velmo/transfer/TransferEvent.h"
#include "velmo/transfer/TransferState.h"

namespace velmo {

class TransferWorkflowFactory;
class Workflow;
class WorkStatusData;

// The state machine of one transfer. Callers drive it with the public
// operations; its work tree reports back through the handlers, which the work
// interface calls with the transfer's lock held. Every change of state goes
// through ChangeState, which checks it against TransferStateTable, logs it and
// makes the event that announces it.
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
  virtual void OnWorkComplete(Lock& lock, const std::shared_ptr<const Work>& work,
                              const WorkStatus& status);
  virtual void OnPackageAcquire(Lock& lock, const std::shared_ptr<const Work>& work,
                                const WorkStatus& status);
  virtual void OnNodeListAcquire(Lock& lock, const std::shared_ptr<const Work>& work,
                                 const WorkStatus& status);
  virtual void OnInitialize(Lock& lock, const std::shared_ptr<const Work>& work,
                            const WorkStatus& status);
  virtual void OnWorkflowRetryableError(Lock& lock, const std::shared_ptr<Workflow>& workflow,
                                        const std::shared_ptr<const Work>& work,
                                        const WorkStatus& status);
  virtual void RegisterFile(Lock& lock, const std::string& relativePath);

 protected:
  // What ChangeState hands back: whether the state changed, and the event
  // that announces the change (empty when the transition announces nothing or
  // none was asked for), to be sent with Emit once the state is complete.
  struct StateChange {
    bool changed = false;
    std::unique_ptr<TransferEvent> event;
  };
  // The outcome of an operation: the status right after it, and whether it
  // went through (false: refused, nothing changed and nothing was sent).
  struct Outcome {
    TransferStatus status;
    bool applied = false;
  };

  // The one place the state changes. A request for the current state changes
  // nothing. Otherwise the transition must be in TransferStateTable
  // (std::logic_error, with nothing changed, when it is not); its event is
  // made before the write, so it reports the status as the step found it;
  // then the state is written and "TransferStateChange" from -> to goes to the
  // work log at the verbose level. With `announce` false no event is made
  // (and no report marks are taken).
  StateChange ChangeState(TransferState to, bool announce = true);
  void LogStateChange(TransferState from, TransferState to) const;
  // Start's body with its outcome, for the subclasses that act on a start.
  Outcome TryStart(Lock& lock, const std::string& destinationFolder);

  // True when nothing more happens to the transfer without a new request.
  bool IsFinal() const;
  TransferStatus Snapshot();
  // Releases `lock`, then dispatches `event`; returns the status of the moment
  // before the release.
  TransferStatus Emit(Lock& lock, std::unique_ptr<TransferEvent> event);
  void Fail(Lock& lock, const std::shared_ptr<const Work>& work, const std::string& message,
            TransferError error);
  // ChangeState, then ReleaseWorkflow.
  StateChange SetFinalState(TransferState state);
  void ReleaseWorkflow();
  void CreateWorkflow();
  // A new incarnation of the data that begins in the state the old one ended in.
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
