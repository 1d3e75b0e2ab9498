#pragma once

#include <memory>

#include "velmo/transfer/TransferWork.h"
#include "velmo/work/SimpleWork.h"

namespace velmo {

class TransferSharedMapData;

// Gives the chunk's receive buffer back to the pool.
class ReleaseChunkMapWork : public TransferWork, public SimpleWork {
 public:
  ReleaseChunkMapWork(std::shared_ptr<TransferWorkInterface> workInterface,
                      std::shared_ptr<TransferSharedMapData> chunk);
  void Describe(boost::property_tree::ptree& out) const override;
  WorkStatus ExecuteTask() override;
  void OnInterrupt() override {}

 private:
  std::shared_ptr<TransferSharedMapData> chunk_;
};

}  // namespace velmo
