#pragma once

#include <memory>

#include "velmo/transfer/TransferWork.h"
#include "velmo/work/SimpleWork.h"

namespace velmo {

class TransferSharedMapData;

// Checks the chunk's CRC-32: of the bytes a request left in the chunk's
// receive buffer when there are some (a match writes them to the file), else
// of the file's bytes, read back. A match commits the chunk's size as progress
// and as verified bytes; a mismatch rewinds the chunk and, when a whole
// response delivered the wrong bytes, marks that node as bad for it. A chunk
// of a file this run created from empty fails without reading anything.
class VerifyChunkWork : public TransferWork, public SimpleWork {
 public:
  VerifyChunkWork(std::shared_ptr<TransferWorkInterface> workInterface,
                  std::shared_ptr<TransferSharedMapData> chunk);
  void Describe(boost::property_tree::ptree& out) const override;
  WorkStatus ExecuteTask() override;
  void OnInterrupt() override {}

 private:
  std::shared_ptr<TransferSharedMapData> chunk_;
};

}  // namespace velmo
