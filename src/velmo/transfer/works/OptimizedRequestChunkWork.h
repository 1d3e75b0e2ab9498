#pragma once

#include <memory>
#include <mutex>

#include "velmo/file/ChunkBufferPool.h"
#include "velmo/http/HttpRequestStatus.h"
#include "velmo/optimizer/OptimizedRequestParams.h"
#include "velmo/transfer/TransferWork.h"
#include "velmo/work/LimitedRetrySimpleWork.h"

namespace velmo {

class BufferedChunkData;
class HttpRequest;
class SharedFile;
class TransferBehavior;
class TransferSharedMapData;

// A buffer for a chunk of `chunkSize` bytes from the engine's pool (or one of
// its own when the behavior has no pool).
ChunkBuffer AcquireChunkBuffer(const TransferBehavior& behavior, std::uint64_t chunkSize);

// An empty receive buffer for one copy of `chunk`: a buffer from the engine's
// pool, the chunk's SHA-256 kept where it has one, and bytes beyond the
// buffer staged in the engine's private transfers folder.
std::shared_ptr<BufferedChunkData> MakeReceivedChunk(const TransferBehavior& behavior,
                                                     const TransferSharedMapData& chunk,
                                                     std::shared_ptr<SharedFile> file);

// What a request teaches: its node's statistics take the sample (a failure
// unless it succeeded or was cancelled), and the optimizer the result when
// `report` is set; otherwise the optimizer only gets the node back.
void LearnFromRequest(const TransferBehavior& behavior, const OptimizedRequestParams& params,
                      const HttpRequestStatus& status, std::int32_t requestTimeMs, bool report);

// One HTTP range request of a chunk, from the node the optimizer picks. The
// body goes into the chunk's receive buffer (`received`), where the chunk's
// verification finds it; nothing reaches the file before that check. Network failures are retried
// in place on the next node of the rotation, once a node is free of its
// backoff (TransferOptimizer::BackoffDelay).
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
