#include "velmo/transfer/StandardTransferData.h"

#include <exception>

#include "velmo/file/SharedFileFactory.h"
#include "velmo/http/HttpSession.h"
#include "velmo/http/HttpSessionFactory.h"
#include "velmo/transfer/TransferStatusImpl.h"

namespace velmo {

StandardTransferData::StandardTransferData(const TransferParams& transferParams,
                                           const TransferBehavior& transferBehavior,
                                           TransferState initialState,
                                           std::shared_ptr<CreatedFiles> files)
    : params(transferParams),
      behavior(transferBehavior),
      status(std::make_shared<TransferStatusImpl>(transferBehavior.settings)),
      session(transferBehavior.sessionFactory != nullptr ? transferBehavior.sessionFactory->Create()
                                                         : nullptr),
      createdFiles(files ? std::move(files) : std::make_shared<CreatedFiles>()) {
  status->SetState(initialState);
}

void StandardTransferData::RegisterFile(const std::string& relativePath) {
  if (!createdFiles->deleted) {
    createdFiles->paths.insert(relativePath);
    return;
  }
  try {
    behavior.sharedFileFactory->RemoveFile(CopyParams().destPath, relativePath);
  } catch (const std::exception&) {
    // Left behind; nothing else can be done for it here.
  }
}

}  // namespace velmo
