#pragma once

#include <string>

#include "velmo/telemetry/AnalyticsRequests.h"
#include "velmo/transfer/TransferEvent.h"

namespace velmo {

// An event that counts: one counter record ("numXxx" = "1") on the events
// endpoint and a work-log line.
class SimpleTransferEvent : public TransferEvent {
 public:
  void ReportAnalytics() override;

 protected:
  SimpleTransferEvent(const TransferEventContext& context, std::string name,
                      std::string counterKey);

  const SimpleEventAnalyticsRequest request_;
};

}  // namespace velmo
