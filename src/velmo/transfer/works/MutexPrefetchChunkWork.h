#pragma once

#include <memory>

#include "velmo/transfer/TransferWork.h"
#include "velmo/work/SimpleWork.h"

namespace velmo {

class TransferSharedMapData;

// Pages the chunk in before it is fetched, one chunk of the whole process at
// a time, so that page faults stay out of the network receive path.
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
