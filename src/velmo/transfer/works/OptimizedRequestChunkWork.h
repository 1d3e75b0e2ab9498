#pragma once

#include <memory>
#include <mutex>

#include "velmo/optimizer/OptimizedRequestParams.h"
#include "velmo/transfer/TransferWork.h"
#include "velmo/work/LimitedRetrySimpleWork.h"

namespace velmo {

class HttpRequest;
class TransferSharedMapData;

// One HTTP range request of a chunk, from the node the optimizer picks,
// written straight into the chunk's view. Network failures are retried in
// place on the next node of the rotation.
//
// Threads: the task runs on a pool thread; OnInterrupt comes from the
// workflow's thread and reaches the running request only under `mutex_`.
class OptimizedRequestChunkWork : public TransferWork, public LimitedRetrySimpleWork {
 public:
  OptimizedRequestChunkWork(std::uint32_t maxRetries,
                            std::shared_ptr<TransferWorkInterface> workInterface,
                            std::shared_ptr<TransferSharedMapData> chunk);
  void Describe(boost::property_tree::ptree& out) const override;
  WorkStatus ExecuteTask() override;
  void OnInterrupt() override;
  // A retry is free (uses up nothing) after exploring a node, or after a
  // timeout while the optimizer may still raise its limits.
  bool CanRetry() override;

  const OptimizedRequestParams& GetParams() const { return params_; }

 private:
  WorkStatus Attempt();

  OptimizedRequestParams params_;
  std::shared_ptr<TransferSharedMapData> chunk_;
  std::mutex mutex_;
  std::shared_ptr<HttpRequest> request_;  // guarded by mutex_
};

}  // namespace velmo
