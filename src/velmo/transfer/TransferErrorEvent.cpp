#include "velmo/transfer/TransferErrorEvent.h"

#include <boost/property_tree/ptree.hpp>

#include "velmo/transfer/TransferStatus.h"
#include "velmo/work/WorkStatus.h"

namespace velmo {

TransferErrorEvent::TransferErrorEvent(const TransferEventContext& context, std::string name,
                                       std::string counterKey, std::string errorText,
                                       TransferState state, TransferDeltas deltas,
                                       TransferError error, std::string cause)
    : TransferEvent(context, std::move(name)),
      request_(params_.partnerId, params_.packageId, params_.versionId, std::move(counterKey),
               std::move(errorText)),
      transferRequest_(params_.partnerId, params_.packageId, params_.versionId, params_.transferId,
                       static_cast<std::uint8_t>(state), deltas.bytes, deltas.durationMs),
      error_(error),
      cause_(std::move(cause)) {}

void TransferErrorEvent::DescribeLog(boost::property_tree::ptree& record) const {
  if (error_ == TransferError::None) return;
  using Path = boost::property_tree::ptree::path_type;
  record.put(Path("error", '\0'), ErrorName(error_));
  record.put(Path("cause", '\0'), cause_);
}

void TransferErrorEvent::ReportAnalytics() {
  // An error right after another report (or before anything moved) has nothing
  // to add to the transfer's record.
  if (transferRequest_.GetBytes() != 0 || transferRequest_.GetDurationMs() != 0) {
    Track(kTransfersCategory, transferRequest_);
  }
  TrackWithNodeMetrics(&request_);
}

std::string TransferErrorEvent::ErrorText(const WorkStatusData* data) {
  return data != nullptr ? data->GetMessage() : std::string();
}

}  // namespace velmo
