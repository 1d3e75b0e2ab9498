#pragma once

#include <memory>

#include "velmo/transfer/TransferWork.h"
#include "velmo/work/LimitedRetrySequentialWork.h"

namespace velmo {

class TransferSharedMapData;

// Fetches the chunk, then verifies it; a checksum mismatch starts the pair
// again (from the next node), up to maxRetries times.
class RetryableTransferChunkWork : public TransferWork, public LimitedRetrySequentialWork {
 public:
  static std::shared_ptr<RetryableTransferChunkWork> Create(
      std::uint32_t maxRetries, const std::shared_ptr<TransferWorkInterface>& workInterface,
      const std::shared_ptr<TransferSharedMapData>& chunk);
  RetryableTransferChunkWork(std::uint32_t maxRetries,
                             std::shared_ptr<TransferWorkInterface> workInterface,
                             std::shared_ptr<TransferSharedMapData> chunk);
  void Describe(boost::property_tree::ptree& out) const override;

 private:
  std::shared_ptr<TransferSharedMapData> chunk_;
};

}  // namespace velmo
