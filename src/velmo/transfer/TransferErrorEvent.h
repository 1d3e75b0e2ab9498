#pragma once

#include <string>

#include "velmo/telemetry/AnalyticsRequests.h"
#include "velmo/transfer/TransferError.h"
#include "velmo/transfer/TransferEvent.h"
#include "velmo/transfer/TransferState.h"
#include "velmo/transfer/TransferStateEvent.h"

namespace velmo {

class WorkStatusData;

// A failure of the transfer: the transfer record when anything accrued since
// the last report, then one events-endpoint array holding the error counter
// (with the error text as a dimension) and every node's metrics.
class TransferErrorEvent : public TransferEvent {
 public:
  void ReportAnalytics() override;

  // The error text of a status payload (empty without one).
  static std::string ErrorText(const WorkStatusData* data);

 protected:
  TransferErrorEvent(const TransferEventContext& context, std::string name, std::string counterKey,
                     std::string errorText, TransferState state, TransferDeltas deltas,
                     TransferError error = TransferError::None, std::string cause = std::string());

  // "error" = the error's name, "cause" = what failed and why; nothing when
  // the transfer's record holds no error.
  void DescribeLog(boost::property_tree::ptree& record) const override;

  const ErrorAnalyticsRequest request_;
  const TransferAnalyticsRequest transferRequest_;
  const TransferError error_;
  const std::string cause_;
};

}  // namespace velmo
