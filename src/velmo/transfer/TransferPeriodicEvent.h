#pragma once

#include "velmo/telemetry/AnalyticsRequests.h"
#include "velmo/transfer/TransferEvent.h"
#include "velmo/transfer/TransferStateEvent.h"

namespace velmo {

class TransferStatusImpl;

// The report made every periodic interval of active time while a transfer's
// status is read: the transfer record and the nodes' metrics, and no work-log
// line (it would repeat every few minutes for nothing).
class TransferPeriodicEvent : public TransferEvent {
 public:
  // Takes the current state and the report deltas of `status`.
  TransferPeriodicEvent(const TransferEventContext& context, TransferStatusImpl& status);

  void ReportAnalytics() override;
  void Log() override {}

 private:
  TransferPeriodicEvent(const TransferEventContext& context, TransferState state,
                        TransferDeltas deltas);

  const TransferAnalyticsRequest transferRequest_;
};

}  // namespace velmo
