#include "velmo/transfer/works/TailRequestChunkWork.h"

#include <algorithm>

#include "velmo/file/BufferedChunkData.h"
#include "velmo/http/HttpRequest.h"
#include "velmo/http/HttpRequestFactory.h"
#include "velmo/manifest/NodeListManifest.h"
#include "velmo/optimizer/NodeStatistics.h"
#include "velmo/optimizer/OptimizedRequestParams.h"
#include "velmo/optimizer/TransferOptimizer.h"
#include "velmo/platform/Clock.h"
#include "velmo/transfer/TransferProgressUpdater.h"
#include "velmo/transfer/works/HttpBoundedFileDataWriter.h"
#include "velmo/transfer/works/OptimizedRequestChunkWork.h"
#include "velmo/transfer/works/TailRequestTracker.h"
#include "velmo/transfer/works/TransferSharedMapData.h"
#include "velmo/transfer/works/TransferWorkSupport.h"

namespace velmo {

TailRequestChunkWork::TailRequestChunkWork(std::shared_ptr<TransferWorkInterface> workInterface,
                                           std::shared_ptr<TransferSharedMapData> chunk,
                                           bool aboveBound)
    : TransferWork(std::move(workInterface)), chunk_(std::move(chunk)), aboveBound_(aboveBound) {
  ObserveByWorkLog(*this, *this->workInterface_);
}

void TailRequestChunkWork::Describe(boost::property_tree::ptree& out) const {
  DescribeTransferWork(out, "TailRequestChunkWork", false, *this, true);
  chunk_->Describe(out);
  std::lock_guard<std::mutex> lock(mutex_);
  if (target_) {
    out.put("tailLowerBound", target_->lowerBound);
    out.put("tailFilePath", target_->fileData->filePath);
    out.put("tailRequests", tailRequests_);
    out.put("tailWins", won_);
    out.put("wastedBytes", wastedBytes_);
  }
}

void TailRequestChunkWork::OnInterrupt() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (request_) request_->Cancel();
}

WorkStatus TailRequestChunkWork::ExecuteTask() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    target_.reset();
    tailRequests_ = won_ = 0;
    wastedBytes_ = 0;
  }
  try {
    // Each straggler is taken once, so this ends after at most as many
    // requests as there are chunks in flight.
    while (RequestStraggler()) {
    }
  } catch (...) {
    // A second request is a bonus: whatever broke it, the first request of
    // the chunk is still on its way.
    std::lock_guard<std::mutex> lock(mutex_);
    request_.reset();
  }
  return WorkStatus(WorkResult::Success, nullptr);
}

bool TailRequestChunkWork::RequestStraggler() {
  const std::shared_ptr<TailRequestTracker> tail = workInterface_->GetTailTracker();
  const auto nodeList = workInterface_->GetNodeList();
  if (!tail || !nodeList || IsInterrupted()) return false;
  const NodeManifestList nodes = nodeList->GetNodes();
  if (nodes.size() < 2) return false;

  const std::shared_ptr<const TailRequestTracker::Stage> current =
      tail->CurrentStage(workInterface_->GetPackage());
  const TailRequestTracker::Stage& stage = *current;
  if (stage.empty()) return false;
  const TailRequestTracker::Straggler straggler = tail->TakeStraggler(stage, TickCount());
  if (!straggler.chunk) return false;
  TransferSharedMapData& target = *straggler.chunk;
  const std::shared_ptr<SharedFile> file = straggler.file;
  // However this ends, the tracker learns that the chunk's second request is
  // over, so that the chunk leaves the flight once its first request has
  // ended too, instead of being left half-known.
  std::shared_ptr<HttpRequest> request;
  struct Ended {
    TailRequestTracker& tracker;
    TransferSharedMapData& chunk;
    const std::shared_ptr<HttpRequest>& request;
    ~Ended() { tracker.SecondEnded(chunk, request.get()); }
  } ended{*tail, target, request};
  // Verified meanwhile: nothing to race, but maybe another straggler.
  if (!file || target.verified.load()) return true;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    target_ = straggler.chunk;
  }

  // Any node but the one the first request went to. A copy that stalls or
  // fails gives way to one from a node not yet tried for this chunk, one at
  // a time, so that the chunk has at most two copies in flight and each
  // node is asked at most once here.
  std::vector<std::shared_ptr<NodeManifest>> tried{straggler.node};
  const std::size_t most = std::max<std::size_t>(
      1, std::min<std::size_t>(nodes.size() - 1,
                               workInterface_->GetBehavior().settings.maxNodeRetries));
  for (std::size_t copy = 0; copy < most && !target.verified.load() && !IsInterrupted(); ++copy) {
    if (!RequestCopy(*tail, straggler, nodeList, tried, request)) break;
  }
  return true;
}

bool TailRequestChunkWork::RequestCopy(TailRequestTracker& tail,
                                       const TailRequestTracker::Straggler& straggler,
                                       const std::shared_ptr<NodeListManifest>& nodeList,
                                       std::vector<std::shared_ptr<NodeManifest>>& tried,
                                       std::shared_ptr<HttpRequest>& request) {
  TransferSharedMapData& target = *straggler.chunk;
  OptimizedRequestParams params;
  params.nodeList = nodeList;
  for (const auto& node : nodeList->GetNodes()) {
    if (std::find(tried.begin(), tried.end(), node) == tried.end()) {
      params.candidates.push_back(node);
    }
  }
  if (params.candidates.empty()) return false;
  params.transferParams = workInterface_->GetParams();
  params.filePath = target.fileData->filePath;
  params.ChunkData = straggler.chunk;
  const TransferBehavior& behavior = workInterface_->GetBehavior();
  // A second copy is a bonus: it never waits for a node's backoff.
  if (behavior.optimizer->BackoffDelay(params).count() > 0) return false;
  behavior.optimizer->GetNode(params);
  tried.push_back(params.SelectedNode);
  // A copy that receives (next to) nothing for as long as a stalled request
  // ends then, not after the low-speed time of a normal request: the chunk
  // it should have rescued is already late.
  const auto stallSeconds = static_cast<std::int32_t>((tail.StallMs() + 999) / 1000);
  params.lowSpeedTime =
      params.lowSpeedTime > 0 ? std::min(params.lowSpeedTime, stallSeconds) : stallSeconds;
  params.lowSpeedLimit = std::max(params.lowSpeedLimit, 1);

  // Into a buffer of its own: the chunk's receive buffer belongs to the
  // first request. Its bytes count as downloaded, not as the chunk's progress.
  const auto received = MakeReceivedChunk(behavior, target, straggler.file);
  BufferedChunkData& bytes = *received;
  HttpBoundedFileDataWriter writer(received);
  request = behavior.requestFactory->Create(params.ToRequestParams(&writer),
                                            workInterface_->GetSession());
  {
    std::lock_guard<std::mutex> lock(mutex_);
    request_ = request;
  }
  if (!tail.SetSecondRequest(target, request) || IsInterrupted()) {
    behavior.optimizer->ReleaseNode(params);
    std::lock_guard<std::mutex> lock(mutex_);
    request_.reset();
    return false;
  }

  const std::uint32_t started = TickCount();
  HttpRequestStatus status = request->Execute();
  const std::uint32_t elapsed = TicksBetween(started, TickCount());
  if (auto progress = workInterface_->GetProgressUpdater()) progress->AddDownloaded(status.bytes);
  // The node's statistics learn from this request like from any other; a
  // cancelled one (the first copy won) teaches nothing. A copy cut short by
  // the stall limit above counts as a failed request, not as a timeout that
  // would lengthen every request's limits.
  const bool failed = TransferOptimizer::IsFailure(status.result);
  if (status.result == HttpRequestResult::Timeout) status.result = HttpRequestResult::NetworkError;
  if (status.result != HttpRequestResult::Canceled) {
    LearnFromRequest(behavior, params, status, static_cast<std::int32_t>(elapsed), true);
  } else {
    behavior.optimizer->ReleaseNode(params);
  }

  bool won = false;
  std::uint64_t wasted = status.bytes;
  const bool good = target.Matches(bytes);
  if (status.result == HttpRequestResult::Success && !good) {
    behavior.optimizer->ReportChecksumFailure(params, status.bytes,
                                              static_cast<std::int32_t>(elapsed));
  }
  // Read before the commit, which counts the whole chunk as its progress.
  const std::uint64_t firstReceived = std::min(target.fileProgressBytes.load(), target.Size());
  if (status.result == HttpRequestResult::Success && good && target.CommitVerified(bytes)) {
    won = true;
    // The first request's bytes so far are the waste now; it stops at once
    // and adds what it received in all to the tracker itself.
    wasted = firstReceived;
    tail.Verified(target);
  } else {
    tail.AddWasted(wasted);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  request_.reset();
  ++tailRequests_;
  if (won) ++won_;
  wastedBytes_ += wasted;
  return failed && !target.verified.load();
}

}  // namespace velmo
