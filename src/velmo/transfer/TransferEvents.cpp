#include "velmo/transfer/TransferEvents.h"

#include <boost/property_tree/ptree.hpp>

#include "velmo/transfer/TransferStatusImpl.h"
#include "velmo/work/WorkStatus.h"

namespace velmo {

TransferInitializeEvent::TransferInitializeEvent(const TransferEventContext& context)
    : SimpleTransferEvent(context, "Initialize", "numInitializes") {}

TransferInitializeCompleteEvent::TransferInitializeCompleteEvent(
    const TransferEventContext& context)
    : SimpleTransferEvent(context, "InitializeComplete", "numInitializeCompletes") {}

TransferPauseEvent::TransferPauseEvent(const TransferEventContext& context)
    : SimpleTransferEvent(context, "Pause", "numPauses") {}

TransferResumeEvent::TransferResumeEvent(const TransferEventContext& context)
    : SimpleTransferEvent(context, "Resume", "numResumes") {}

TransferRetryEvent::TransferRetryEvent(const TransferEventContext& context)
    : SimpleTransferEvent(context, "Retry", "numRetries") {}

TransferStartEvent::TransferStartEvent(const TransferEventContext& context)
    : TransferStateEvent(context, "Start", "numStarts", TransferState::Transferring,
                         TransferDeltas()) {}

TransferRestoreEvent::TransferRestoreEvent(const TransferEventContext& context)
    : TransferStateEvent(context, "Restore", "numRestores", TransferState::Initializing,
                         TransferDeltas()) {}

TransferCancelEvent::TransferCancelEvent(const TransferEventContext& context,
                                         TransferStatusImpl& status)
    : TransferEndEvent(context, "Cancel", "numCancels", status.GetState(),
                       TransferDeltas::Take(status)) {}

TransferSuspendEvent::TransferSuspendEvent(const TransferEventContext& context,
                                           TransferStatusImpl& status)
    : TransferEndEvent(context, "Suspend", "numSuspends", TransferState::Suspended,
                       TransferDeltas::Take(status)) {}

TransferCompleteEvent::TransferCompleteEvent(const TransferEventContext& context,
                                             TransferStatusImpl& status)
    : TransferEndEvent(context, "Complete", "numCompletes", status.GetState(),
                       TransferDeltas::Take(status)) {}

TransferStoreFailedEvent::TransferStoreFailedEvent(const TransferEventContext& context,
                                                   std::string cause)
    : SimpleTransferEvent(context, "StoreFailed", "numStoreFailures"), cause_(std::move(cause)) {}

void TransferStoreFailedEvent::DescribeLog(boost::property_tree::ptree& record) const {
  record.put(boost::property_tree::ptree::path_type("cause", '\0'), cause_);
}

TransferRetryableErrorEvent::TransferRetryableErrorEvent(
    const TransferEventContext& context, TransferStatusImpl& status,
    const std::shared_ptr<WorkStatusData>& data)
    : TransferErrorEvent(context, "RetryableError", "numRetryableErrors", ErrorText(data.get()),
                         status.GetState(), TransferDeltas::Take(status), status.GetError(),
                         status.GetErrorCause()) {}

TransferFatalErrorEvent::TransferFatalErrorEvent(const TransferEventContext& context,
                                                 TransferStatusImpl& status,
                                                 const std::shared_ptr<WorkStatusData>& data)
    : TransferErrorEvent(context, "FatalError", "numFatalErrors", ErrorText(data.get()),
                         status.GetState(), TransferDeltas::Take(status), status.GetError(),
                         status.GetErrorCause()) {}

}  // namespace velmo
