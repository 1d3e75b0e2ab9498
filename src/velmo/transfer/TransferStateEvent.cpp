#include "velmo/transfer/TransferStateEvent.h"

#include "velmo/transfer/TransferStatusImpl.h"

namespace velmo {

TransferDeltas TransferDeltas::Take(TransferStatusImpl& status) {
  TransferDeltas deltas;
  deltas.bytes = status.TakeTransferredDelta();
  deltas.durationMs = status.TakeActiveMsDelta();
  return deltas;
}

TransferStateEvent::TransferStateEvent(const TransferEventContext& context, std::string name,
                                       std::string counterKey, TransferState state,
                                       TransferDeltas deltas)
    : SimpleTransferEvent(context, std::move(name), std::move(counterKey)),
      transferRequest_(params_.partnerId, params_.packageId, params_.versionId, params_.transferId,
                       static_cast<std::uint8_t>(state), deltas.bytes, deltas.durationMs) {}

void TransferStateEvent::ReportAnalytics() {
  Track(kEventsCategory, request_);
  Track(kTransfersCategory, transferRequest_);
}

}  // namespace velmo
