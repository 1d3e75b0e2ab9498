#pragma once

#include <string>

namespace velmo {

struct TransferStatus;

// What the application sees of the engine: transfers addressed by id, every
// answer a status snapshot. An unknown id is never an error; it comes back as
// a status in state Invalid. Callable from any thread.
class TransferFacade {
 public:
  virtual ~TransferFacade() = default;
  virtual TransferStatus CreateTransfer(const std::string& partnerId, const std::string& packageId,
                                        const std::string& versionId) = 0;
  virtual TransferStatus StartTransfer(const std::string& transferId,
                                       const std::string& destinationFolder) = 0;
  virtual TransferStatus GetTransferStatus(const std::string& transferId) = 0;
};

}  // namespace velmo
