#pragma once

#include <memory>
#include <string>

#include "velmo/transfer/TransferStatusSource.h"

namespace velmo {

class PackageManifest;

// What the application sees of the engine: transfers addressed by id, every
// answer a status snapshot. An unknown id is never an error; it comes back as
// a status in state Invalid. Callable from any thread.
class TransferFacade : public TransferStatusSource {
 public:
  ~TransferFacade() override = default;
  virtual TransferStatus CreateTransfer(const std::string& partnerId, const std::string& packageId,
                                        const std::string& versionId) = 0;
  virtual TransferStatus StartTransfer(const std::string& transferId,
                                       const std::string& destinationFolder) = 0;
  TransferStatus GetTransferStatus(const std::string& transferId) override = 0;
  // The package manifest the transfer works from (signature-checked when it
  // was fetched): empty until it is acquired, and for an unknown id.
  virtual std::shared_ptr<const PackageManifest> GetPackageManifest(
      const std::string& transferId) = 0;
};

}  // namespace velmo
