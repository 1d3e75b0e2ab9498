#include "velmo/transfer/works/OptimizedRequestChunkWork.h"

#include <algorithm>

#include "velmo/file/BufferedChunkData.h"
#include "velmo/file/ChunkBufferPool.h"
#include "velmo/file/SharedFile.h"
#include "velmo/http/HttpRequest.h"
#include "velmo/http/HttpRequestFactory.h"
#include "velmo/manifest/NodeListManifest.h"
#include "velmo/optimizer/NodeStatistics.h"
#include "velmo/optimizer/TransferOptimizer.h"
#include "velmo/platform/Clock.h"
#include "velmo/platform/System.h"
#include "velmo/transfer/TransferErrorData.h"
#include "velmo/transfer/TransferFailureStatus.h"
#include "velmo/transfer/works/HttpTransferStatusData.h"
#include "velmo/transfer/works/LazyTransferMultipleChunksWork.h"
#include "velmo/transfer/works/TailRequestTracker.h"
#include "velmo/transfer/works/TransferHttpWriter.h"
#include "velmo/transfer/works/TransferSharedMapData.h"
#include "velmo/transfer/works/TransferWorkSupport.h"

namespace velmo {
namespace {

WorkResult ResultOf(HttpRequestResult result) {
  switch (result) {
    case HttpRequestResult::Success:
      return WorkResult::Success;
    case HttpRequestResult::Canceled:
      return WorkResult::Interrupted;
    case HttpRequestResult::InvalidRequest:
    case HttpRequestResult::ResolveFailed:
    case HttpRequestResult::ConnectFailed:
    case HttpRequestResult::ClientError:
    case HttpRequestResult::ServerError:
    case HttpRequestResult::NetworkError:
    case HttpRequestResult::WriteError:
    case HttpRequestResult::RangeError:
    case HttpRequestResult::Timeout:
    case HttpRequestResult::UnknownError:
      return WorkResult::RetryableError;
    default:
      return WorkResult::Fatal;
  }
}

bool CountsAsFailure(HttpRequestResult result) {
  return result != HttpRequestResult::NotStarted && result != HttpRequestResult::Running &&
         result != HttpRequestResult::Success && result != HttpRequestResult::Canceled;
}

}  // namespace

void LearnFromRequest(const TransferBehavior& behavior, const OptimizedRequestParams& params,
                      const HttpRequestStatus& status, std::int32_t requestTimeMs, bool report) {
  if (auto statistics = params.SelectedNode->GetStatistics()) {
    statistics->Record(status.bytes, static_cast<std::uint32_t>(requestTimeMs),
                       CountsAsFailure(status.result));
  }
  if (report) {
    behavior.optimizer->ReportResult(params, status, requestTimeMs);
  } else {
    behavior.optimizer->ReleaseNode(params);
  }
}

ChunkBuffer AcquireChunkBuffer(const TransferBehavior& behavior, std::uint64_t chunkSize) {
  const std::size_t wanted = static_cast<std::size_t>(chunkSize);
  if (behavior.chunkBuffers) return behavior.chunkBuffers->Acquire(wanted);
  // No pool: a buffer of the request's own, streaming a large chunk in
  // pieces like a request that found the pool's memory all lent.
  static ChunkBufferPool unpooled(ChunkBufferPool::kSmallBufferSize, 0);
  return unpooled.Acquire(wanted);
}

std::shared_ptr<BufferedChunkData> MakeReceivedChunk(const TransferBehavior& behavior,
                                                     const TransferSharedMapData& chunk,
                                                     std::shared_ptr<SharedFile> file) {
  // The transfers folder is the user's alone (the engine checks it before
  // any transfer is made), so no one else can read or change staged bytes.
  const std::string& folder = behavior.settings.transfersFolder;
  std::string staging = folder;
  if (!folder.empty() && folder.front() != '/') staging = JoinPath(UserTempFolder(), folder);
  return std::make_shared<BufferedChunkData>(std::move(file), chunk.lowerBound, chunk.upperBound,
                                             AcquireChunkBuffer(behavior, chunk.Size()),
                                             chunk.NeedsSha256(), std::move(staging));
}

OptimizedRequestChunkWork::OptimizedRequestChunkWork(
    std::uint32_t maxRetries, std::shared_ptr<TransferWorkInterface> workInterface,
    std::shared_ptr<TransferSharedMapData> chunk)
    : TransferWork(std::move(workInterface)),
      LimitedRetrySimpleWork(maxRetries),
      chunk_(std::move(chunk)) {
  params_.nodeList = this->workInterface_->GetNodeList();
  if (params_.nodeList) params_.candidates = params_.nodeList->GetNodes();
  params_.transferParams = this->workInterface_->GetParams();
  params_.filePath = chunk_->fileData->filePath;
  params_.ChunkData = chunk_;
  ObserveByWorkLog(*this, *this->workInterface_);
  ObserveRetriesByWorkLog(*this, *this->workInterface_);
}

void OptimizedRequestChunkWork::Describe(boost::property_tree::ptree& out) const {
  DescribeTransferWork(out, "OptimizedRequestChunkWork", false, *this, true);
  chunk_->Describe(out);
}

void OptimizedRequestChunkWork::OnInterrupt() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (request_) request_->Cancel();
}

bool OptimizedRequestChunkWork::CanRetry() {
  if (params_.freeRetry) return true;
  return LimitedRetrySimpleWork::CanRetry();
}

WorkStatus OptimizedRequestChunkWork::ExecuteTask() {
  try {
    return Attempt();
  } catch (...) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      request_.reset();
    }
    workInterface_->GetBehavior().optimizer->ReleaseNode(params_);
    return UnexpectedFailureStatus();
  }
}

WorkStatus OptimizedRequestChunkWork::Attempt() {
  TransferSharedMapData& chunk = *chunk_;
  const std::shared_ptr<SharedFile> file = chunk.fileData->file;
  if (!file) {
    return WorkStatus(
        WorkResult::Fatal,
        MakeTransferErrorData(TransferError::UnexpectedError,
                              "OptimizedRequestChunkWork::ExecuteTask has no shared file"));
  }
  if (!chunk.received) {
    chunk.received = MakeReceivedChunk(workInterface_->GetBehavior(), chunk, file);
  }
  const TransferBehavior& behavior = workInterface_->GetBehavior();
  // While every node this chunk may go to is backing off after failures (a
  // lone node that answered 429, say), the chunk waits for the first of them,
  // on this thread but without spinning, and any interrupt ends the wait.
  for (auto wait = behavior.optimizer->BackoffDelay(params_); wait.count() > 0;
       wait = behavior.optimizer->BackoffDelay(params_)) {
    if (!WaitUnlessInterrupted(wait)) return WorkStatus(WorkResult::Interrupted, nullptr);
  }
  params_.freeRetry = false;
  behavior.optimizer->GetNode(params_);

  TransferHttpWriter writer(chunk.received, chunk_);
  const HttpRequestParams requestParams = params_.ToRequestParams(&writer);
  std::shared_ptr<HttpRequest> request =
      behavior.requestFactory->Create(requestParams, workInterface_->GetSession());
  {
    std::lock_guard<std::mutex> lock(mutex_);
    request_ = request;
  }
  chunk.Rewind();
  const std::shared_ptr<TailRequestTracker> tail = workInterface_->GetTailTracker();
  if (tail && tail->Started(chunk_, request, params_.SelectedNode,
                            *tail->CurrentStage(workInterface_->GetPackage()))) {
    // No chunk of the stage is left to start, and every other one may end
    // before this one: then no pipeline end is left to look for stragglers.
    // A tail request beside the chunks takes the next free slot instead.
    if (auto chunks = chunk.fileData->chunks.lock()) chunks->StartTailRequest(chunk_);
  }
  if (IsInterrupted() || chunk.verified.load()) request->Cancel();

  const std::uint32_t started = TickCount();
  const HttpRequestStatus status = request->Execute();
  const std::uint32_t elapsed = TicksBetween(started, TickCount());
  // A clock that jumped must not report a request longer than its limits.
  const std::int64_t limit = static_cast<std::int64_t>(params_.connectTimeout) + params_.timeout;
  const std::int32_t requestTimeMs = static_cast<std::int64_t>(elapsed / 1000) > limit
                                         ? static_cast<std::int32_t>(limit * 1000)
                                         : static_cast<std::int32_t>(elapsed);
  auto data = std::make_shared<HttpTransferStatusData>(params_.SelectedNode->GetHost(), status,
                                                       requestTimeMs);
  if (chunk.verified.load()) {
    // A tail request of this chunk won (and cancelled this one): its copy is
    // in the file. What this request received is waste; a failure of the
    // node only when this request had stalled there.
    if (tail) tail->AddWasted(status.bytes);
    if (tail && tail->ConsumeStalled(chunk, *request)) {
      LearnFromRequest(behavior, params_,
                       HttpRequestStatus(HttpRequestResult::NetworkError, status.bytes),
                       requestTimeMs, true);
    } else {
      behavior.optimizer->ReleaseNode(params_);
    }
    params_.DropSelectedNode();
    std::lock_guard<std::mutex> lock(mutex_);
    request_.reset();
    return WorkStatus(WorkResult::Success, nullptr);
  }
  const WorkResult result = ResultOf(status.result);
  if (result != WorkResult::Success && tail) tail->Dropped(chunk);

  const auto nodes = params_.nodeList ? params_.nodeList->GetNodes() : NodeManifestList();
  const auto found = std::find(nodes.begin(), nodes.end(), params_.SelectedNode);
  chunk.nodeIndex = static_cast<std::int32_t>(found - nodes.begin());
  chunk.lastStatus = status;
  chunk.lastNode = params_.SelectedNode;
  chunk.lastLease = params_.lease;
  chunk.lastRequestTimeMs = requestTimeMs;
  chunk.position = chunk.received->GetPosition();

  LearnFromRequest(behavior, params_, status, requestTimeMs,
                   result == WorkResult::Success || result == WorkResult::RetryableError);
  if (result != WorkResult::Interrupted) params_.DropSelectedNode();
  if (status.result == HttpRequestResult::Timeout && params_.limitsCanGrow) {
    params_.freeRetry = true;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    request_.reset();
  }
  return WorkStatus(result, data);
}

}  // namespace velmo
