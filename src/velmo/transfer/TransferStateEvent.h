#pragma once

#include <cstdint>
#include <string>

#include "velmo/telemetry/AnalyticsRequests.h"
#include "velmo/transfer/SimpleTransferEvent.h"
#include "velmo/transfer/TransferState.h"

namespace velmo {

class TransferStatusImpl;

// Bytes received and milliseconds spent transferring since the previous report
// of a transfer; taking them moves the report marks.
struct TransferDeltas {
  std::uint64_t bytes = 0;
  std::uint64_t durationMs = 0;

  static TransferDeltas Take(TransferStatusImpl& status);
};

// A counting event that also records the transfer's state, bytes and duration
// on the transfers endpoint.
class TransferStateEvent : public SimpleTransferEvent {
 public:
  void ReportAnalytics() override;

 protected:
  TransferStateEvent(const TransferEventContext& context, std::string name, std::string counterKey,
                     TransferState state, TransferDeltas deltas);

  const TransferAnalyticsRequest transferRequest_;
};

}  // namespace velmo
