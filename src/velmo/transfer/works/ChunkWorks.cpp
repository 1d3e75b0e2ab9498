// The simple works of a chunk's pipeline: map, page in, verify, unmap. A file
// this run created from empty is neither mapped nor paged in: none of its
// chunks can be valid yet, and its bytes arrive through receive buffers.
#include <libdeflate.h>

#include <mutex>

#include "velmo/file/BufferedChunkData.h"
#include "velmo/file/MemoryMappedFileData.h"
#include "velmo/file/SharedFile.h"
#include "velmo/manifest/NodeListManifest.h"
#include "velmo/manifest/NodeManifest.h"
#include "velmo/optimizer/NodeStatistics.h"
#include "velmo/optimizer/OptimizedRequestParams.h"
#include "velmo/optimizer/TransferOptimizer.h"
#include "velmo/transfer/TransferErrorData.h"
#include "velmo/transfer/TransferFailureStatus.h"
#include "velmo/transfer/TransferProgressUpdater.h"
#include "velmo/transfer/works/ChecksumStatusData.h"
#include "velmo/transfer/works/CreateChunkMapWork.h"
#include "velmo/transfer/works/MutexPrefetchChunkWork.h"
#include "velmo/transfer/works/ReleaseChunkMapWork.h"
#include "velmo/transfer/works/TailRequestTracker.h"
#include "velmo/transfer/works/TransferSharedMapData.h"
#include "velmo/transfer/works/TransferWorkSupport.h"
#include "velmo/transfer/works/VerifyChunkWork.h"

namespace velmo {
namespace {

WorkStatus Unexpected(const char* message) {
  return WorkStatus(WorkResult::Fatal,
                    MakeTransferErrorData(TransferError::UnexpectedError, message));
}

void DescribeChunk(boost::property_tree::ptree& out, const char* name, const TransferWork& work,
                   const TransferSharedMapData& chunk) {
  DescribeTransferWork(out, name, false, work, true);
  chunk.Describe(out);
}

}  // namespace

// ---------------------------------------------------------------------------

CreateChunkMapWork::CreateChunkMapWork(std::shared_ptr<TransferWorkInterface> workInterface,
                                       std::shared_ptr<TransferSharedMapData> chunk)
    : TransferWork(std::move(workInterface)), chunk_(std::move(chunk)) {
  ObserveByWorkLog(*this, *this->workInterface);
}

void CreateChunkMapWork::Describe(boost::property_tree::ptree& out) const {
  DescribeChunk(out, "CreateChunkMapWork", *this, *chunk_);
}

WorkStatus CreateChunkMapWork::ExecuteTask() {
  try {
    const std::shared_ptr<SharedFile> file = chunk_->fileData->file;
    if (!file) return Unexpected("CreateChunkMapWork::ExecuteTask has no shared file");
    if (chunk_->fileData->created) return WorkStatus(WorkResult::Success, nullptr);
    chunk_->view = file->Map(chunk_->lowerBound, chunk_->upperBound);
    return WorkStatus(WorkResult::Success, nullptr);
  } catch (...) {
    return FileFailureStatus();
  }
}

void CreateChunkMapWork::Reset() {
  SimpleWork::Reset();
  chunk_->view.reset();
}

// ---------------------------------------------------------------------------

MutexPrefetchChunkWork::MutexPrefetchChunkWork(std::shared_ptr<TransferWorkInterface> workInterface,
                                               std::shared_ptr<TransferSharedMapData> chunk)
    : TransferWork(std::move(workInterface)), chunk_(std::move(chunk)) {
  ObserveByWorkLog(*this, *this->workInterface);
}

void MutexPrefetchChunkWork::Describe(boost::property_tree::ptree& out) const {
  DescribeChunk(out, "MutexPrefetchChunkWork", *this, *chunk_);
}

WorkStatus MutexPrefetchChunkWork::ExecuteTask() {
  // One chunk of the whole process pages in at a time: many at once would
  // make the disk seek between them.
  static std::mutex prefetchMutex;
  try {
    if (!chunk_->view && chunk_->fileData->created) return WorkStatus(WorkResult::Success, nullptr);
    std::lock_guard<std::mutex> lock(prefetchMutex);
    if (!chunk_->view) return Unexpected("MutexPrefetchChunkWork::ExecuteTask has no shared map");
    chunk_->view->Fetch();
    return WorkStatus(WorkResult::Success, nullptr);
  } catch (...) {
    return FileFailureStatus();
  }
}

// ---------------------------------------------------------------------------

ReleaseChunkMapWork::ReleaseChunkMapWork(std::shared_ptr<TransferWorkInterface> workInterface,
                                         std::shared_ptr<TransferSharedMapData> chunk)
    : TransferWork(std::move(workInterface)), chunk_(std::move(chunk)) {
  ObserveByWorkLog(*this, *this->workInterface);
}

void ReleaseChunkMapWork::Describe(boost::property_tree::ptree& out) const {
  DescribeChunk(out, "ReleaseChunkMapWork", *this, *chunk_);
}

WorkStatus ReleaseChunkMapWork::ExecuteTask() {
  chunk_->view.reset();
  chunk_->received.reset();
  return WorkStatus(WorkResult::Success, nullptr);
}

// ---------------------------------------------------------------------------

VerifyChunkWork::VerifyChunkWork(std::shared_ptr<TransferWorkInterface> workInterface,
                                 std::shared_ptr<TransferSharedMapData> chunk)
    : TransferWork(std::move(workInterface)), chunk_(std::move(chunk)) {
  ObserveByWorkLog(*this, *this->workInterface);
}

void VerifyChunkWork::Describe(boost::property_tree::ptree& out) const {
  DescribeChunk(out, "VerifyChunkWork", *this, *chunk_);
}

WorkStatus VerifyChunkWork::ExecuteTask() {
  try {
    TransferSharedMapData& chunk = *chunk_;
    if (chunk.verified.load()) {
      // A tail request's copy is in the file already; whatever this
      // pipeline's own request received is dropped.
      chunk.received.reset();
      chunk.SettleProgress();
      return WorkStatus(WorkResult::Success, nullptr);
    }
    std::uint32_t actual = 0;
    bool fromNetwork = false;
    if (chunk.received) {
      // Bytes of a request: checked in memory, written only when they match.
      fromNetwork = true;
      actual = chunk.received->Crc32();
      if (chunk.received->Complete() && actual == chunk.expectedChecksum) {
        if (!chunk.CommitVerified(*chunk.received)) chunk.SettleProgress();
        chunk.received.reset();  // the buffer goes back to the pool at once
        if (auto tail = workInterface->GetTailTracker()) tail->Verified(chunk);
        return WorkStatus(WorkResult::Success, nullptr);
      }
    } else if (chunk.view) {
      // What an earlier run left in the file, checked in place over the
      // mapping: no chunk-sized copy.
      actual = chunk.view->Apply([](const std::uint8_t* data, std::uint64_t size) {
        return static_cast<std::uint32_t>(libdeflate_crc32(0, data, static_cast<size_t>(size)));
      });
      if (actual == chunk.expectedChecksum) {
        {
          std::lock_guard<std::mutex> lock(chunk.commitMutex);
          chunk.CountVerified();
        }
        if (auto tail = workInterface->GetTailTracker()) tail->Verified(chunk);
        return WorkStatus(WorkResult::Success, nullptr);
      }
    } else if (!chunk.fileData->created) {
      return Unexpected("VerifyChunkWork::ExecuteTask has neither received bytes nor a shared map");
    }
    // A file created by this run holds nothing valid yet: the chunk is
    // simply not there, with no bytes to blame anyone for.
    chunk.Rewind();
    if (fromNetwork) {
      if (auto tail = workInterface->GetTailTracker()) tail->Dropped(chunk);
    }
    if (fromNetwork && chunk.lastStatus.result == HttpRequestResult::Success) {
      // The node that sent wrong bytes is charged with a failure, so the
      // optimizer stops rewarding a fast node for fast garbage.
      if (TransferOptimizer* optimizer = workInterface->GetBehavior().optimizer) {
        OptimizedRequestParams blamed;
        blamed.SelectedNode = chunk.lastNode;
        blamed.lease = chunk.lastLease;
        optimizer->ReportChecksumFailure(blamed, chunk.lastStatus.bytes, chunk.lastRequestTimeMs);
      }
      const std::uint32_t bit = 1u << (static_cast<std::uint32_t>(chunk.nodeIndex) % 32u);
      if ((chunk.badNodeMask & bit) == 0) {
        chunk.badNodeMask |= bit;
        ++chunk.badNodeCount;
      }
      const auto nodeList = workInterface->GetNodeList();
      const auto nodes = nodeList ? nodeList->GetNodes() : NodeManifestList();
      const auto index = static_cast<std::size_t>(chunk.nodeIndex);
      if (index < nodes.size() && nodes[index]->GetStatistics()) {
        nodes[index]->GetStatistics()->CountChecksumFailure();
      }
    }
    return WorkStatus(WorkResult::Error, std::make_shared<ChecksumStatusData>(actual, chunk_));
  } catch (...) {
    return FileFailureStatus();
  }
}

}  // namespace velmo
