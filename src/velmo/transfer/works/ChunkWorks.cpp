// The simple works of a chunk's pipeline: verify, release. The bytes of a
// request are checked in its receive buffer and written only when they
// match; what an earlier run left in a file is read back with pread (faster
// here than mapping it: no page faults, chunks checked on every pool thread
// at once); a file this run created from empty is not read at all.

#include <algorithm>
#include <mutex>
#include <optional>

#include "velmo/file/BufferedChunkData.h"
#include "velmo/file/ChunkBufferPool.h"
#include "velmo/file/FileException.h"
#include "velmo/file/RangeChecksum.h"
#include "velmo/file/Sha256Hasher.h"
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
#include "velmo/transfer/works/OptimizedRequestChunkWork.h"
#include "velmo/transfer/works/ReleaseChunkMapWork.h"
#include "velmo/transfer/works/TailRequestTracker.h"
#include "velmo/transfer/works/TransferSharedMapData.h"
#include "velmo/transfer/works/TransferWorkSupport.h"
#include "velmo/transfer/works/VerifyChunkWork.h"

namespace velmo {
namespace {

// CRC-32 of the chunk's bytes in its file, read in buffer-sized pieces; when
// `sha` is given, the same bytes also go into it.
std::uint32_t ReadChecksum(TransferSharedMapData& chunk, const TransferBehavior& behavior,
                           Sha256Hasher* sha) {
  const std::shared_ptr<SharedFile> file = chunk.fileData->file;
  if (!file) throw FileInvalidMapException();
  ChunkBuffer buffer = AcquireChunkBuffer(behavior, chunk.Size());
  return ReadRangeChecksum(*file, chunk.lowerBound, chunk.upperBound, buffer.Data(), buffer.Size(),
                           sha)
      .crc32;
}

void DescribeChunk(boost::property_tree::ptree& out, const char* name, const TransferWork& work,
                   const TransferSharedMapData& chunk) {
  DescribeTransferWork(out, name, false, work, true);
  chunk.Describe(out);
}

}  // namespace

// ---------------------------------------------------------------------------

ReleaseChunkMapWork::ReleaseChunkMapWork(std::shared_ptr<TransferWorkInterface> workInterface,
                                         std::shared_ptr<TransferSharedMapData> chunk)
    : TransferWork(std::move(workInterface)), chunk_(std::move(chunk)) {
  ObserveByWorkLog(*this, *this->workInterface_);
}

void ReleaseChunkMapWork::Describe(boost::property_tree::ptree& out) const {
  DescribeChunk(out, "ReleaseChunkMapWork", *this, *chunk_);
}

WorkStatus ReleaseChunkMapWork::ExecuteTask() {
  chunk_->received.reset();
  return WorkStatus(WorkResult::Success, nullptr);
}

// ---------------------------------------------------------------------------

VerifyChunkWork::VerifyChunkWork(std::shared_ptr<TransferWorkInterface> workInterface,
                                 std::shared_ptr<TransferSharedMapData> chunk)
    : TransferWork(std::move(workInterface)), chunk_(std::move(chunk)) {
  ObserveByWorkLog(*this, *this->workInterface_);
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
    bool sha256Mismatch = false;  // the CRC-32 matched, the SHA-256 did not
    if (chunk.received) {
      // Bytes of a request: checked in memory, written only when they match.
      fromNetwork = true;
      actual = chunk.received->Crc32();
      const bool crcGood = chunk.received->Complete() && actual == chunk.expectedChecksum;
      sha256Mismatch = crcGood && !chunk.Sha256Matches(*chunk.received);
      if (crcGood && !sha256Mismatch) {
        if (!chunk.CommitVerified(*chunk.received)) chunk.SettleProgress();
        chunk.received.reset();  // the buffer goes back to the pool at once
        if (auto tail = workInterface_->GetTailTracker()) tail->Verified(chunk);
        return WorkStatus(WorkResult::Success, nullptr);
      }
    } else if (!chunk.fileData->created) {
      // What an earlier run left in the file.
      std::optional<Sha256Hasher> sha;
      if (chunk.NeedsSha256()) sha.emplace();
      actual = ReadChecksum(chunk, workInterface_->GetBehavior(), sha ? &*sha : nullptr);
      sha256Mismatch =
          actual == chunk.expectedChecksum && sha && sha->Digest() != *chunk.expectedSha256;
      if (actual == chunk.expectedChecksum && !sha256Mismatch) {
        {
          std::lock_guard<std::mutex> lock(chunk.commitMutex);
          chunk.CountVerified();
        }
        if (auto tail = workInterface_->GetTailTracker()) tail->Verified(chunk);
        return WorkStatus(WorkResult::Success, nullptr);
      }
    }
    // A file created by this run holds nothing valid yet: the chunk is
    // simply not there, with no bytes to blame anyone for.
    chunk.Rewind();
    if (fromNetwork) {
      if (auto tail = workInterface_->GetTailTracker()) tail->Dropped(chunk);
    }
    if (fromNetwork && chunk.lastStatus.result == HttpRequestResult::Success) {
      // The node that sent wrong bytes is charged with a failure, so the
      // optimizer stops rewarding a fast node for fast garbage.
      if (TransferOptimizer* optimizer = workInterface_->GetBehavior().optimizer) {
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
      const auto nodeList = workInterface_->GetNodeList();
      const auto nodes = nodeList ? nodeList->GetNodes() : NodeManifestList();
      const auto index = static_cast<std::size_t>(chunk.nodeIndex);
      if (index < nodes.size() && nodes[index]->GetStatistics()) {
        nodes[index]->GetStatistics()->CountChecksumFailure();
      }
    }
    return WorkStatus(WorkResult::Error,
                      std::make_shared<ChecksumStatusData>(actual, chunk_, sha256Mismatch));
  } catch (...) {
    return FileFailureStatus();
  }
}

}  // namespace velmo
