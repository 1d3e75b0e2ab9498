#include "velmo/transfer/TransferPeriodicEvent.h"

#include "velmo/transfer/TransferStatusImpl.h"

namespace velmo {

TransferPeriodicEvent::TransferPeriodicEvent(const TransferEventContext& context,
                                             TransferStatusImpl& status)
    : TransferPeriodicEvent(context, status.GetState(), TransferDeltas::Take(status)) {}

TransferPeriodicEvent::TransferPeriodicEvent(const TransferEventContext& context,
                                             TransferState state, TransferDeltas deltas)
    : TransferEvent(context, "PeriodicUpdate"),
      transferRequest_(params_.partnerId, params_.packageId, params_.versionId, params_.transferId,
                       static_cast<std::uint8_t>(state), deltas.bytes, deltas.durationMs) {}

void TransferPeriodicEvent::ReportAnalytics() {
  Track(kTransfersCategory, transferRequest_);
  TrackWithNodeMetrics(nullptr);
}

}  // namespace velmo
