#pragma once

// The concrete transfer events, one per step of a transfer's life. Each fixes
// its name (the work-log "event") and its analytics counter key; the state
// machine makes one and dispatches it when the step happens.
//
// Events that report bytes and time take the report deltas of the transfer's
// status when they are made, so each report covers the interval since the
// previous one.

#include <boost/property_tree/ptree_fwd.hpp>
#include <memory>
#include <string>

#include "velmo/transfer/SimpleTransferEvent.h"
#include "velmo/transfer/TransferEndEvent.h"
#include "velmo/transfer/TransferErrorEvent.h"
#include "velmo/transfer/TransferPeriodicEvent.h"
#include "velmo/transfer/TransferStateEvent.h"

namespace velmo {

class TransferStatusImpl;
class WorkStatusData;

// The transfer starts fetching its manifests.
class TransferInitializeEvent : public SimpleTransferEvent {
 public:
  explicit TransferInitializeEvent(const TransferEventContext& context);
};

// The manifests are in; the transfer is ready.
class TransferInitializeCompleteEvent : public SimpleTransferEvent {
 public:
  explicit TransferInitializeCompleteEvent(const TransferEventContext& context);
};

// Paused by the application.
class TransferPauseEvent : public SimpleTransferEvent {
 public:
  explicit TransferPauseEvent(const TransferEventContext& context);
};

// Resumed after a pause.
class TransferResumeEvent : public SimpleTransferEvent {
 public:
  explicit TransferResumeEvent(const TransferEventContext& context);
};

// A retryable error was cleared and the transfer goes on.
class TransferRetryEvent : public SimpleTransferEvent {
 public:
  explicit TransferRetryEvent(const TransferEventContext& context);
};

// Started with its destination folder; reports state Transferring with no bytes and no time,
// whatever the counters hold.
class TransferStartEvent : public TransferStateEvent {
 public:
  explicit TransferStartEvent(const TransferEventContext& context);
};

// Restored from its stored manifest or after a suspension; reports state Initializing with no bytes
// and no time, whatever the counters hold.
class TransferRestoreEvent : public TransferStateEvent {
 public:
  explicit TransferRestoreEvent(const TransferEventContext& context);
};

// Canceled; reports the current state and the deltas.
class TransferCancelEvent : public TransferEndEvent {
 public:
  TransferCancelEvent(const TransferEventContext& context, TransferStatusImpl& status);
};

// Suspended, resumable later; reports state Suspended and the deltas.
class TransferSuspendEvent : public TransferEndEvent {
 public:
  TransferSuspendEvent(const TransferEventContext& context, TransferStatusImpl& status);
};

// Every file transferred and verified; reports the current state and the deltas.
class TransferCompleteEvent : public TransferEndEvent {
 public:
  TransferCompleteEvent(const TransferEventContext& context, TransferStatusImpl& status);
};

// Stopped on an error a retry may clear; reports the current state, the deltas and the
// message of the error's payload (`data` may be empty).
class TransferRetryableErrorEvent : public TransferErrorEvent {
 public:
  TransferRetryableErrorEvent(const TransferEventContext& context, TransferStatusImpl& status,
                              const std::shared_ptr<WorkStatusData>& data);
};

// Started, but its stored document could not be written: the transfer goes
// on, and no later run can resume it. Analytics only count it (the cause
// names the user's folders); the work log has "cause".
class TransferStoreFailedEvent : public SimpleTransferEvent {
 public:
  TransferStoreFailedEvent(const TransferEventContext& context, std::string cause);

 protected:
  void DescribeLog(boost::property_tree::ptree& record) const override;

 private:
  const std::string cause_;
};

// Failed for good; reports the current state, the deltas and the
// message of the error's payload (`data` may be empty).
class TransferFatalErrorEvent : public TransferErrorEvent {
 public:
  TransferFatalErrorEvent(const TransferEventContext& context, TransferStatusImpl& status,
                          const std::shared_ptr<WorkStatusData>& data);
};

}  // namespace velmo
