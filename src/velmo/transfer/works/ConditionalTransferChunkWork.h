#pragma once

#include <memory>

#include "velmo/transfer/TransferWork.h"
#include "velmo/work/ConditionalWork.h"

namespace velmo {

class TransferSharedMapData;

// Verifies the bytes already on disk; fetches the chunk only when they do not
// match. A restored transfer thus costs a checksum per valid chunk, no traffic.
class ConditionalTransferChunkWork : public TransferWork, public ConditionalWork {
 public:
  static std::shared_ptr<ConditionalTransferChunkWork> Create(
      const std::shared_ptr<TransferWorkInterface>& workInterface,
      const std::shared_ptr<TransferSharedMapData>& chunk);
  ConditionalTransferChunkWork(std::shared_ptr<TransferWorkInterface> workInterface,
                               std::shared_ptr<TransferSharedMapData> chunk);
  void Describe(boost::property_tree::ptree& out) const override;

 private:
  std::shared_ptr<TransferSharedMapData> chunk_;
};

}  // namespace velmo
