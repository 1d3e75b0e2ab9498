#pragma once

#include "velmo/transfer/TransferStateEvent.h"

namespace velmo {

// The end of a run (cancel, suspend, complete): the transfer record first, then
// one events-endpoint array holding the counter and every node's metrics.
class TransferEndEvent : public TransferStateEvent {
 public:
  void ReportAnalytics() override;

 protected:
  using TransferStateEvent::TransferStateEvent;
};

}  // namespace velmo
