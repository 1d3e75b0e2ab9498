#include "velmo/transfer/works/TailRequestTracker.h"

#include <algorithm>
#include <utility>

#include "velmo/http/HttpRequest.h"
#include "velmo/manifest/FileManifest.h"
#include "velmo/manifest/PackageManifest.h"
#include "velmo/platform/Clock.h"
#include "velmo/transfer/works/TransferSharedFileData.h"
#include "velmo/transfer/works/TransferSharedMapData.h"

namespace velmo {

std::size_t TailRequestTracker::KeyHash::operator()(const Key& key) const noexcept {
  // The files' addresses and the chunks' first bytes are both spaced by
  // large powers of two: mixed, so that their low bits pick the bucket.
  std::uint64_t h = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(key.file));
  h ^= key.first + 0x9E3779B97F4A7C15ULL + (h << 6) + (h >> 2);
  h ^= h >> 31;
  h *= 0xBF58476D1CE4E5B9ULL;
  h ^= h >> 27;
  return static_cast<std::size_t>(h);
}

bool TailRequestTracker::ChunkSet::Contains(std::uint64_t first) const {
  if (offGrid_ && offGrid_->count(first) != 0) return true;
  if (chunkSize_ == 0 || first % chunkSize_ != 0) return false;
  const std::uint64_t index = first / chunkSize_;
  const auto word = static_cast<std::size_t>(index / 64);
  return word < bits_.size() && ((bits_[word] >> (index % 64)) & 1U) != 0;
}

bool TailRequestTracker::ChunkSet::Insert(std::uint64_t first, std::uint64_t size,
                                          std::uint64_t fileSize) {
  if (Contains(first)) return false;
  // Every chunk but the last has the file's chunk size, and a file's first
  // chunk has it unless it is the only one.
  if (chunkSize_ == 0 && size != 0 && (first == 0 || first + size < fileSize)) {
    chunkSize_ = size;
    bits_.assign(static_cast<std::size_t>(fileSize / size / 64 + 1), 0);
  }
  const std::uint64_t index = chunkSize_ == 0 ? 0 : first / chunkSize_;
  if (chunkSize_ != 0 && first % chunkSize_ == 0 && index / 64 < bits_.size()) {
    bits_[static_cast<std::size_t>(index / 64)] |= std::uint64_t{1} << (index % 64);
  } else {
    if (!offGrid_) offGrid_ = std::make_unique<std::unordered_set<std::uint64_t>>();
    offGrid_->insert(first);
  }
  return true;
}

TailRequestTracker::Key TailRequestTracker::KeyOf(const TransferSharedMapData& chunk) {
  return Key{chunk.fileData.get(), chunk.lowerBound};
}

TailRequestTracker::FileRecord& TailRequestTracker::RecordOf(const TransferSharedMapData& chunk) {
  const auto [it, made] = files_.try_emplace(chunk.fileData.get());
  if (made) {
    it->second.data = chunk.fileData;
    Classify(it->second);
  }
  return it->second;
}

void TailRequestTracker::Classify(FileRecord& record) const {
  record.inProgram = record.inWhole = false;
  record.stageSize = 0;
  if (!wholeStage_) return;
  // Once per file and package: the one place a path is looked up.
  for (const auto& [stage, in] : {std::pair{programStage_.get(), &record.inProgram},
                                  std::pair{wholeStage_.get(), &record.inWhole}}) {
    const auto it = stage->find(record.data->filePath);
    if (it == stage->end()) continue;
    *in = true;
    record.stageSize = it->second;
  }
}

const TailRequestTracker::StageCounts* TailRequestTracker::CountsOf(const Stage& stage) const {
  if (&stage == programStage_.get()) return &programCounts_;
  if (&stage == wholeStage_.get()) return &wholeCounts_;
  return nullptr;
}

bool TailRequestTracker::InStage(const FileRecord& record, const Stage& stage) const {
  if (&stage == programStage_.get()) return record.inProgram;
  if (&stage == wholeStage_.get()) return record.inWhole;
  return stage.count(record.data->filePath) != 0;
}

void TailRequestTracker::CountFlight(const InFlight& entry, int sign) {
  for (StageCounts* counts : {entry.record->inProgram ? &programCounts_ : nullptr,
                              entry.record->inWhole ? &wholeCounts_ : nullptr}) {
    if (!counts) continue;
    if (sign > 0) {
      counts->inFlightBytes += entry.size;
      ++counts->inFlight;
    } else {
      counts->inFlightBytes -= entry.size;
      --counts->inFlight;
    }
  }
}

void TailRequestTracker::EraseFlight(InFlightMap::iterator it) {
  CountFlight(it->second, -1);
  inFlight_.erase(it);
}

void TailRequestTracker::RecountStages() {
  for (auto& [stage, counts] : {std::pair{programStage_.get(), &programCounts_},
                                std::pair{wholeStage_.get(), &wholeCounts_}}) {
    *counts = StageCounts();
    for (const auto& file : *stage) {
      counts->bytes += file.second;
      if (file.second != 0) ++counts->incompleteFiles;
    }
  }
  for (auto& item : files_) {
    FileRecord& record = item.second;
    Classify(record);
    const bool complete = record.stageSize != 0 && record.verifiedBytes >= record.stageSize;
    for (StageCounts* counts :
         {record.inProgram ? &programCounts_ : nullptr, record.inWhole ? &wholeCounts_ : nullptr}) {
      if (!counts) continue;
      counts->verifiedBytes += record.verifiedBytes;
      if (complete) --counts->incompleteFiles;
    }
  }
  for (const auto& item : inFlight_) CountFlight(item.second, 1);
}

bool TailRequestTracker::Started(const std::shared_ptr<TransferSharedMapData>& chunk,
                                 const std::shared_ptr<HttpRequest>& request,
                                 std::shared_ptr<NodeManifest> node, const Stage& stage) {
  std::lock_guard<std::mutex> lock(mutex_);
  FileRecord& record = RecordOf(*chunk);
  if (record.verifiedChunks.Contains(chunk->lowerBound)) return false;
  const auto [it, begins] = inFlight_.try_emplace(KeyOf(*chunk));
  InFlight& entry = it->second;
  if (begins) {
    entry.startedMs = TickCount();
    entry.record = &record;
  } else {
    CountFlight(entry, -1);
  }
  entry.chunk = chunk;
  entry.size = chunk->Size();
  CountFlight(entry, 1);
  entry.node = std::move(node);
  entry.file = chunk->fileData->file;
  // Only the latest request of the chunk's own pipeline is kept (earlier
  // attempts have ended); a second request stays until it ends.
  entry.own = request;
  entry.ownRunning = true;
  return begins && InStage(record, stage) && InTailLocked(stage);
}

void TailRequestTracker::Verified(const TransferSharedMapData& chunk) {
  std::weak_ptr<HttpRequest> cancel[2];
  {
    std::lock_guard<std::mutex> lock(mutex_);
    FileRecord& record = RecordOf(chunk);
    const std::uint64_t size = chunk.Size();
    if (record.verifiedChunks.Insert(chunk.lowerBound, size, record.data->fileSize)) {
      const bool wasComplete = record.verifiedBytes >= record.stageSize;
      record.verifiedBytes += size;
      verifiedBytes_ += size;
      const bool completes = !wasComplete && record.verifiedBytes >= record.stageSize;
      for (StageCounts* counts : {record.inProgram ? &programCounts_ : nullptr,
                                  record.inWhole ? &wholeCounts_ : nullptr}) {
        if (!counts) continue;
        counts->verifiedBytes += size;
        if (completes) --counts->incompleteFiles;
      }
    }
    const auto it = inFlight_.find(KeyOf(chunk));
    if (it == inFlight_.end()) return;
    // How long chunks take here, from their (latest) first request to the
    // first verified copy: what a stalled request is measured against.
    const auto ms = static_cast<double>(TicksBetween(it->second.startedMs, TickCount()));
    typicalChunkMs_ = typicalChunkMs_ ? *typicalChunkMs_ + (ms - *typicalChunkMs_) / 8.0 : ms;
    cancel[0] = it->second.own;
    cancel[1] = it->second.second;
    EraseFlight(it);
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
    EraseFlight(it);
  }
}

void TailRequestTracker::SecondEnded(const TransferSharedMapData& chunk,
                                     const HttpRequest* request) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = inFlight_.find(KeyOf(chunk));
  if (it == inFlight_.end() || it->second.second.lock().get() != request) return;
  it->second.second.reset();
  it->second.secondRunning = false;
  if (!it->second.ownRunning) EraseFlight(it);
}

bool TailRequestTracker::IsComplete(const Stage& stage) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return IsCompleteLocked(stage);
}

bool TailRequestTracker::InTail(const Stage& stage) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return InTailLocked(stage);
}

std::shared_ptr<const TailRequestTracker::Stage> TailRequestTracker::CurrentStage(
    const std::shared_ptr<const PackageManifest>& package) {
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
    RecountStages();
  }
  if (programStage_->empty() || IsCompleteLocked(*programStage_)) return wholeStage_;
  return programStage_;
}

bool TailRequestTracker::IsCompleteLocked(const Stage& stage) const {
  if (const StageCounts* counts = CountsOf(stage)) return counts->incompleteFiles == 0;
  std::size_t sized = 0;
  for (const auto& file : stage) {
    if (file.second != 0) ++sized;
  }
  std::size_t complete = 0;
  for (const auto& [data, record] : files_) {
    const auto it = stage.find(data->filePath);
    if (it != stage.end() && it->second != 0 && record.verifiedBytes >= it->second) ++complete;
  }
  return complete >= sized;
}

bool TailRequestTracker::InTailLocked(const Stage& stage) const {
  if (const StageCounts* counts = CountsOf(stage)) {
    return counts->inFlight != 0 && counts->verifiedBytes + counts->inFlightBytes >= counts->bytes;
  }
  std::uint64_t stageBytes = 0;
  for (const auto& file : stage) stageBytes += file.second;
  std::uint64_t covered = 0;  // verified or in flight
  for (const auto& item : files_) {
    if (stage.count(item.first->filePath) != 0) covered += item.second.verifiedBytes;
  }
  bool any = false;
  for (const auto& item : inFlight_) {
    if (stage.count(item.first.file->filePath) == 0) continue;
    covered += item.second.size;
    any = true;
  }
  return any && covered >= stageBytes;
}

TailRequestTracker::Straggler TailRequestTracker::TakeStraggler(const Stage& stage,
                                                                std::uint32_t nowMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  const bool tail = InTailLocked(stage);
  if (!tail && !typicalChunkMs_) return {};
  const double stallMs =
      std::max(static_cast<double>(kStallFloorMs),
               static_cast<double>(kStallFactor) * typicalChunkMs_.value_or(0.0));

  // Expected finish: the bytes still missing at the rate seen so far; a
  // request that has received nothing is expected never to finish.
  InFlight* last = nullptr;
  Key lastKey;
  double lastFinish = -1.0;
  bool lastStalled = false;
  for (auto& item : inFlight_) {
    InFlight& entry = item.second;
    if (entry.duplicated || !InStage(*entry.record, stage)) continue;
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
      lastKey = item.first;
      lastStalled = stalled;
    }
  }
  if (!last) return {};
  last->duplicated = true;
  if (lastStalled) stalled_[lastKey] = last->own;
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
  for (const auto& item : files_) {
    if (item.first->filePath == filePath) return item.second.verifiedBytes;
  }
  return 0;
}

std::uint64_t TailRequestTracker::GetVerifiedBytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return verifiedBytes_;
}

}  // namespace velmo
