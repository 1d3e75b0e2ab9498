#pragma once

#include <memory>

#include "velmo/transfer/TransferWork.h"
#include "velmo/work/SimpleWork.h"

namespace velmo {

class TransferSharedMapData;

// Maps the chunk's byte range of the file into memory, so that what an
// earlier run left there can be checked; nothing to map in a file this run
// created.
class CreateChunkMapWork : public TransferWork, public SimpleWork {
 public:
  CreateChunkMapWork(std::shared_ptr<TransferWorkInterface> workInterface,
                     std::shared_ptr<TransferSharedMapData> chunk);
  void Describe(boost::property_tree::ptree& out) const override;
  WorkStatus ExecuteTask() override;
  void OnInterrupt() override {}
  void Reset() override;

 private:
  std::shared_ptr<TransferSharedMapData> chunk_;
};

}  // namespace velmo
