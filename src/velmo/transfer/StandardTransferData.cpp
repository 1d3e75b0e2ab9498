#include "velmo/transfer/StandardTransferData.h"

#include "velmo/http/HttpSession.h"
#include "velmo/http/HttpSessionFactory.h"
#include "velmo/transfer/TransferStatusImpl.h"

namespace velmo {

StandardTransferData::StandardTransferData(const TransferParams& transferParams,
                                           const TransferBehavior& transferBehavior,
                                           TransferState initialState)
    : params(transferParams),
      behavior(transferBehavior),
      status(std::make_shared<TransferStatusImpl>(transferBehavior.settings)),
      session(transferBehavior.sessionFactory != nullptr ? transferBehavior.sessionFactory->Create()
                                                         : nullptr) {
  status->SetState(initialState);
}

}  // namespace velmo
