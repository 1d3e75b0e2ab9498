#include "velmo/transfer/works/TailRequestTracker.h"

#include <algorithm>

#include "velmo/http/HttpRequest.h"
#include "velmo/manifest/FileManifest.h"
#include "velmo/manifest/PackageManifest.h"
#include "velmo/platform/Clock.h"
#include "velmo/transfer/works/TransferSharedMapData.h"

namespace velmo {

TailRequestTracker::Key TailRequestTracker::KeyOf(const TransferSharedMapData& chunk) {
  return Key(chunk.fileData->filePath, chunk.lowerBound);
}

bool TailRequestTracker::Started(const std::shared_ptr<TransferSharedMapData>& chunk,
                                 const std::shared_ptr<HttpRequest>& request,
                                 std::shared_ptr<NodeManifest> node, const Stage& stage) {
  std::lock_guard<std::mutex> lock(mutex_);
  const Key key = KeyOf(*chunk);
  if (verified_.count(key) != 0) return false;
  InFlight& entry = inFlight_[key];
  const bool begins = !entry.chunk;
  if (begins) entry.startedMs = TickCount();
  entry.chunk = chunk;
  entry.node = std::move(node);
  entry.file = chunk->fileData->file;
  // Only the latest request of the chunk's own pipeline is kept (earlier
  // attempts have ended); a second request stays until it ends.
  entry.own = request;
  entry.ownRunning = true;
  return begins && stage.count(key.first) != 0 && InTail(stage);
}

void TailRequestTracker::Verified(const TransferSharedMapData& chunk) {
  std::weak_ptr<HttpRequest> cancel[2];
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const Key key = KeyOf(chunk);
    if (verified_.emplace(key, chunk.Size()).second) {
      verifiedBytes_ += chunk.Size();
      verifiedPerFile_[key.first] += chunk.Size();
    }
    const auto it = inFlight_.find(key);
    if (it == inFlight_.end()) return;
    // How long chunks take here, from their (latest) first request to the
    // first verified copy: what a stalled request is measured against.
    const auto ms = static_cast<double>(TicksBetween(it->second.startedMs, TickCount()));
    typicalChunkMs_ = typicalChunkMs_ ? *typicalChunkMs_ + (ms - *typicalChunkMs_) / 8.0 : ms;
    cancel[0] = it->second.own;
    cancel[1] = it->second.second;
    inFlight_.erase(it);
  }
  // The request that delivered the kept copy has ended: cancelling it is
  // nothing; the other one stops at once.
  for (const auto& weak : cancel) {
    if (auto request = weak.lock()) request->Cancel();
  }
}

void TailRequestTracker::Dropped(const TransferSharedMapData& chunk) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = inFlight_.find(KeyOf(chunk));
  if (it == inFlight_.end()) return;
  // A running second request stays known, so that it is cancelled when a
  // copy wins and no third copy of the chunk is started beside it.
  if (it->second.secondRunning) {
    it->second.own.reset();
    it->second.ownRunning = false;
  } else {
    inFlight_.erase(it);
  }
}

void TailRequestTracker::SecondEnded(const TransferSharedMapData& chunk,
                                     const HttpRequest* request) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = inFlight_.find(KeyOf(chunk));
  if (it == inFlight_.end() || it->second.second.lock().get() != request) return;
  it->second.second.reset();
  it->second.secondRunning = false;
  if (!it->second.ownRunning) inFlight_.erase(it);
}

bool TailRequestTracker::IsComplete(const Stage& stage) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return IsCompleteLocked(stage);
}

std::shared_ptr<const TailRequestTracker::Stage> TailRequestTracker::CurrentStage(
    const std::shared_ptr<PackageManifest>& package) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!package) return std::make_shared<const Stage>();
  if (stagesOf_.lock() != package) {
    Stage program;
    for (const auto& file : package->GetRunFiles()) program[file->GetPath()] = file->GetSize();
    Stage whole;
    for (const auto& file : package->GetFiles()) whole[file->GetPath()] = file->GetSize();
    programStage_ = std::make_shared<const Stage>(std::move(program));
    wholeStage_ = std::make_shared<const Stage>(std::move(whole));
    stagesOf_ = package;
  }
  if (programStage_->empty() || IsCompleteLocked(*programStage_)) return wholeStage_;
  return programStage_;
}

bool TailRequestTracker::IsCompleteLocked(const Stage& stage) const {
  for (const auto& [path, size] : stage) {
    const auto it = verifiedPerFile_.find(path);
    if (size != 0 && (it == verifiedPerFile_.end() || it->second < size)) return false;
  }
  return true;
}

bool TailRequestTracker::InTail(const Stage& stage) const {
  std::uint64_t stageBytes = 0;
  std::uint64_t covered = 0;  // verified or in flight
  for (const auto& [path, size] : stage) {
    stageBytes += size;
    const auto it = verifiedPerFile_.find(path);
    if (it != verifiedPerFile_.end()) covered += it->second;
  }
  bool any = false;
  for (const auto& item : inFlight_) {
    if (stage.count(item.first.first) == 0) continue;
    covered += item.second.chunk->Size();
    any = true;
  }
  return any && covered >= stageBytes;
}

TailRequestTracker::Straggler TailRequestTracker::TakeStraggler(const Stage& stage,
                                                                std::uint32_t nowMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  const bool tail = InTail(stage);
  if (!tail && !typicalChunkMs_) return {};
  const double stallMs =
      std::max(static_cast<double>(kStallFloorMs),
               static_cast<double>(kStallFactor) * typicalChunkMs_.value_or(0.0));

  // Expected finish: the bytes still missing at the rate seen so far; a
  // request that has received nothing is expected never to finish.
  InFlight* last = nullptr;
  double lastFinish = -1.0;
  bool lastStalled = false;
  for (auto& item : inFlight_) {
    InFlight& entry = item.second;
    if (entry.duplicated || stage.count(item.first.first) == 0) continue;
    const std::uint64_t size = entry.chunk->Size();
    const std::uint64_t received = std::min(entry.chunk->fileProgressBytes.load(), size);
    const double elapsed = static_cast<double>(TicksBetween(entry.startedMs, nowMs)) + 1.0;
    const double finish = received == 0 ? 1e300
                                        : static_cast<double>(size - received) * elapsed /
                                              static_cast<double>(received);
    const bool stalled =
        typicalChunkMs_.has_value() && elapsed >= stallMs && elapsed + finish >= 4.0 * stallMs;
    if (!tail && !stalled) continue;
    if (finish > lastFinish) {
      lastFinish = finish;
      last = &entry;
      lastStalled = stalled;
    }
  }
  if (!last) return {};
  last->duplicated = true;
  if (lastStalled) stalled_[KeyOf(*last->chunk)] = last->own;
  return Straggler{last->chunk, last->node, last->file};
}

std::uint32_t TailRequestTracker::StallMs() const {
  std::lock_guard<std::mutex> lock(mutex_);
  const double ms = std::max(static_cast<double>(kStallFloorMs),
                             static_cast<double>(kStallFactor) * typicalChunkMs_.value_or(0.0));
  return static_cast<std::uint32_t>(std::min(ms, 3600.0 * 1000.0));
}

bool TailRequestTracker::ConsumeStalled(const TransferSharedMapData& chunk,
                                        const HttpRequest& request) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = stalled_.find(KeyOf(chunk));
  if (it == stalled_.end() || it->second.lock().get() != &request) return false;
  stalled_.erase(it);
  return true;
}

bool TailRequestTracker::SetSecondRequest(const TransferSharedMapData& chunk,
                                          const std::shared_ptr<HttpRequest>& request) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = inFlight_.find(KeyOf(chunk));
  if (it == inFlight_.end()) return false;
  it->second.second = request;
  it->second.secondRunning = true;
  return true;
}

void TailRequestTracker::AddWasted(std::uint64_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  wastedBytes_ += bytes;
}

std::uint64_t TailRequestTracker::GetWastedBytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return wastedBytes_;
}

std::uint64_t TailRequestTracker::GetVerifiedBytes(const std::string& filePath) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = verifiedPerFile_.find(filePath);
  return it == verifiedPerFile_.end() ? 0 : it->second;
}

std::uint64_t TailRequestTracker::GetVerifiedBytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return verifiedBytes_;
}

}  // namespace velmo
