#pragma once

#include <memory>

#include "velmo/transfer/TransferWork.h"
#include "velmo/work/SimpleWork.h"

namespace velmo {

class TransferSharedMapData;

// Pages the mapped chunk in before it is checked, one chunk of the whole
// process at a time, so that the disk does not seek between many chunks.
// Nothing to do for a file this run created.
class MutexPrefetchChunkWork : public TransferWork, public SimpleWork {
 public:
  MutexPrefetchChunkWork(std::shared_ptr<TransferWorkInterface> workInterface,
                         std::shared_ptr<TransferSharedMapData> chunk);
  void Describe(boost::property_tree::ptree& out) const override;
  WorkStatus ExecuteTask() override;
  void OnInterrupt() override {}

 private:
  std::shared_ptr<TransferSharedMapData> chunk_;
};

}  // namespace velmo
