#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "velmo/transfer/TransferWork.h"
#include "velmo/work/SimpleWork.h"

namespace velmo {

class HttpRequest;
class TransferSharedMapData;

// The last step of a chunk's pipeline, run on the request slot the chunk just
// freed. In a download's tail (every chunk not yet verified is being
// requested; see TailRequestTracker) it requests the chunk expected to finish
// last again, from another node, and writes that copy if it is verified
// before the first one; the slower request is then cancelled. Outside the
// tail it does nothing. It never fails: a second request that goes wrong
// only leaves the first one to finish. The bytes received by the losing
// request are counted as wasted, in the work log ("wastedBytes") and in the
// tracker.
class TailRequestChunkWork : public TransferWork, public SimpleWork {
 public:
  TailRequestChunkWork(std::shared_ptr<TransferWorkInterface> workInterface,
                       std::shared_ptr<TransferSharedMapData> chunk);
  void Describe(boost::property_tree::ptree& out) const override;
  WorkStatus ExecuteTask() override;
  void OnInterrupt() override;

 private:
  WorkStatus Attempt();

  std::shared_ptr<TransferSharedMapData> chunk_;  // the chunk whose slot this is
  mutable std::mutex mutex_;
  std::shared_ptr<HttpRequest> request_;           // guarded by mutex_
  std::shared_ptr<TransferSharedMapData> target_;  // guarded by mutex_
  std::uint64_t wastedBytes_ = 0;                  // guarded by mutex_
  bool won_ = false;                               // guarded by mutex_
};

}  // namespace velmo
