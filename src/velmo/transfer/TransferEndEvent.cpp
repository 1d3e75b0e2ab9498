#include "velmo/transfer/TransferEndEvent.h"

namespace velmo {

void TransferEndEvent::ReportAnalytics() {
  Track(kTransfersCategory, transferRequest_);
  TrackWithNodeMetrics(&request_);
}

}  // namespace velmo
