// The composite works of a chunk's pipeline.
#include <algorithm>

#include "velmo/manifest/NodeListManifest.h"
#include "velmo/transfer/works/ConditionalTransferChunkWork.h"
#include "velmo/transfer/works/OptimizedRequestChunkWork.h"
#include "velmo/transfer/works/ReleaseChunkMapWork.h"
#include "velmo/transfer/works/RetryableTransferChunkWork.h"
#include "velmo/transfer/works/TailRequestChunkWork.h"
#include "velmo/transfer/works/TransferSharedMapData.h"
#include "velmo/transfer/works/TransferSingleChunkWork.h"
#include "velmo/transfer/works/TransferWorkSupport.h"
#include "velmo/transfer/works/VerifyChunkWork.h"
#include "velmo/work/NoOpWork.h"

namespace velmo {
namespace {

// Retries are bounded by the settings, but every node gets its turn, up to
// maxNodeRetries of them: past that a chunk that fails everywhere is reported
// (and the transfer hears of it) rather than tried on every node of a long list.
std::uint32_t RetriesFor(TransferWorkInterface& workInterface, std::uint32_t setting) {
  const auto nodeList = workInterface.GetNodeList();
  const std::size_t nodes = nodeList ? nodeList->GetNodes().size() : 0;
  const std::size_t cap = workInterface.GetBehavior().settings.maxNodeRetries;
  const auto perNode = static_cast<std::uint32_t>(nodes > 0 ? std::min(nodes - 1, cap) : 0);
  return std::max(perNode, setting);
}

}  // namespace

// ---------------------------------------------------------------------------

RetryableTransferChunkWork::RetryableTransferChunkWork(
    std::uint32_t maxRetries, std::shared_ptr<TransferWorkInterface> workInterface,
    std::shared_ptr<TransferSharedMapData> chunk)
    : TransferWork(std::move(workInterface)),
      LimitedRetrySequentialWork(nullptr, maxRetries),
      chunk_(std::move(chunk)) {
  ObserveByWorkLog(*this, *this->workInterface_);
}

std::shared_ptr<RetryableTransferChunkWork> RetryableTransferChunkWork::Create(
    std::uint32_t maxRetries, const std::shared_ptr<TransferWorkInterface>& workInterface,
    const std::shared_ptr<TransferSharedMapData>& chunk) {
  auto work = std::make_shared<RetryableTransferChunkWork>(maxRetries, workInterface, chunk);
  const std::uint32_t requestRetries =
      RetriesFor(*workInterface, workInterface->GetBehavior().settings.requestRetryCount);
  work->AddChild(std::make_shared<OptimizedRequestChunkWork>(requestRetries, workInterface, chunk));
  work->AddChild(std::make_shared<VerifyChunkWork>(workInterface, chunk));
  return work;
}

void RetryableTransferChunkWork::Describe(boost::property_tree::ptree& out) const {
  DescribeTransferWork(out, "RetryableTransferChunkWork", false, *this, true);
  chunk_->Describe(out);
}

// ---------------------------------------------------------------------------

ConditionalTransferChunkWork::ConditionalTransferChunkWork(
    std::shared_ptr<TransferWorkInterface> workInterface,
    std::shared_ptr<TransferSharedMapData> chunk)
    : TransferWork(std::move(workInterface)), chunk_(std::move(chunk)) {
  ObserveByWorkLog(*this, *this->workInterface_);
}

std::shared_ptr<ConditionalTransferChunkWork> ConditionalTransferChunkWork::Create(
    const std::shared_ptr<TransferWorkInterface>& workInterface,
    const std::shared_ptr<TransferSharedMapData>& chunk) {
  auto work = std::make_shared<ConditionalTransferChunkWork>(workInterface, chunk);
  work->SetCondition(std::make_shared<VerifyChunkWork>(workInterface, chunk));
  work->SetOnSuccess(std::make_shared<NoOpWork>());
  work->SetOnFailure(RetryableTransferChunkWork::Create(
      RetriesFor(*workInterface, workInterface->GetBehavior().settings.chunkRetryCount),
      workInterface, chunk));
  work->Reset();
  return work;
}

void ConditionalTransferChunkWork::Describe(boost::property_tree::ptree& out) const {
  DescribeTransferWork(out, "ConditionalTransferChunkWork", false, *this, true);
  chunk_->Describe(out);
}

// ---------------------------------------------------------------------------

TransferSingleChunkWork::TransferSingleChunkWork(
    std::shared_ptr<TransferWorkInterface> workInterface,
    std::shared_ptr<TransferSharedMapData> chunk)
    : TransferWork(std::move(workInterface)), SequentialWork(nullptr, 3), chunk_(std::move(chunk)) {
  ObserveByWorkLog(*this, *this->workInterface_);
}

std::shared_ptr<TransferSingleChunkWork> TransferSingleChunkWork::Create(
    const std::shared_ptr<TransferWorkInterface>& workInterface,
    std::shared_ptr<TransferSharedFileData> file, std::uint64_t lowerBound,
    std::uint64_t upperBound, std::uint32_t expectedChecksum,
    std::optional<Sha256Digest> expectedSha256) {
  auto chunk = std::make_shared<TransferSharedMapData>(
      std::move(file), lowerBound, upperBound, expectedChecksum,
      workInterface->GetProgressUpdater(), expectedSha256);
  auto work = std::make_shared<TransferSingleChunkWork>(workInterface, chunk);
  work->AddChild(ConditionalTransferChunkWork::Create(workInterface, chunk));
  work->AddChild(std::make_shared<ReleaseChunkMapWork>(workInterface, chunk));
  work->AddChild(std::make_shared<TailRequestChunkWork>(workInterface, chunk));
  return work;
}

void TransferSingleChunkWork::Describe(boost::property_tree::ptree& out) const {
  DescribeTransferWork(out, "TransferSingleChunkWork", false, *this, true);
  chunk_->Describe(out);
}

void TransferSingleChunkWork::Reset() {
  SequentialWork::Reset();
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  chunk_->received.reset();
  chunk_->fileProgressBytes = 0;
  chunk_->verified = false;
}

void TransferSingleChunkWork::ReleaseView() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  chunk_->received.reset();
}

}  // namespace velmo
