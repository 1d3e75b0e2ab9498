#include "velmo/transfer/StandardTransferData.h"

#include "velmo/http/HttpSession.h"
#include "velmo/http/HttpSessionFactory.h"
#include "velmo/transfer/TransferStatusImpl.h"

namespace velmo {

StandardTransferData::StandardTransferData(const TransferParams& params,
                                           const TransferBehavior& behavior,
                                           TransferState initialState)
    : params(params),
      behavior(behavior),
      status(std::make_shared<TransferStatusImpl>(behavior.settings)),
      session(behavior.sessionFactory != nullptr ? behavior.sessionFactory->Create() : nullptr) {
  status->SetState(initialState);
}

}  // namespace velmo
