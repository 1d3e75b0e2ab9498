#include "velmo/transfer/SimpleTransferEvent.h"

namespace velmo {

SimpleTransferEvent::SimpleTransferEvent(const TransferEventContext& context, std::string name,
                                         std::string counterKey)
    : TransferEvent(context, std::move(name)),
      request_(params_.partnerId, params_.packageId, params_.versionId, std::move(counterKey)) {}

void SimpleTransferEvent::ReportAnalytics() { Track(kEventsCategory, request_); }

}  // namespace velmo
