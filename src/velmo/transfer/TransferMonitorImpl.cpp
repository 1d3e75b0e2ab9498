#include "velmo/transfer/TransferMonitorImpl.h"

#include <chrono>

#include "velmo/platform/Clock.h"
#include "velmo/transfer/TransferMonitorCallback.h"
#include "velmo/transfer/TransferStatus.h"
#include "velmo/transfer/TransferStatusSource.h"

namespace velmo {

TransferMonitorImpl::TransferMonitorImpl(TransferStatusSource* source, std::uint32_t intervalMs)
    : source_(source), intervalMs_(intervalMs) {}

TransferMonitorImpl::~TransferMonitorImpl() {
  std::thread thread;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    thread = std::move(thread_);
  }
  wake_.notify_all();
  if (thread.joinable()) thread.join();
  std::lock_guard<std::mutex> lock(mutex_);
  watched_.clear();
}

void TransferMonitorImpl::Start() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (thread_.joinable() || stop_) return;
  thread_ = std::thread([this] { Run(); });
}

void TransferMonitorImpl::Watch(const std::string& transferId, TransferMonitorCallback* callback) {
  if (callback == nullptr) return;
  std::lock_guard<std::mutex> lock(mutex_);
  watched_.emplace(transferId, callback);
}

void TransferMonitorImpl::Unwatch(const std::string& transferId) {
  std::lock_guard<std::mutex> lock(mutex_);
  watched_.erase(transferId);
}

void TransferMonitorImpl::Run() {
  while (Pause()) Poll();
}

bool TransferMonitorImpl::Pause() {
  const std::uint32_t started = TickCount();
  // Waking a little early is fine; waking much too early (a spurious wake-up)
  // is not, so wait again until 90% of the interval has gone by.
  const std::uint32_t enough = intervalMs_ * 9 / 10;
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    const std::uint32_t elapsed = TicksBetween(started, TickCount());
    if (elapsed >= enough) break;
    const std::uint32_t rest = elapsed < intervalMs_ ? intervalMs_ - elapsed : 0;
    wake_.wait_for(lock, std::chrono::milliseconds(rest));
  }
  return !stop_;
}

void TransferMonitorImpl::Poll() {
  WatchList entries;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    entries = watched_;
  }
  // Entries this pass has itself unwatched; their callbacks are still owed the
  // snapshot that made the pass drop them.
  WatchList handedOver;
  for (const auto& [transferId, callback] : entries) {
    if (stop_) return;
    if (!IsWatched(transferId, callback, handedOver)) continue;
    const TransferStatus status = source_->GetTransferStatus(transferId);
    if (IsFinal(status)) {
      Hand(transferId, handedOver);
      callback->OnFinished(status);
    } else if (status.state == TransferState::Initialized) {
      Hand(transferId, handedOver);
      callback->OnReady(status);
      if (status.error != TransferError::None) callback->OnError(status);
    } else if (status.error != TransferError::None) {
      Hand(transferId, handedOver);
      callback->OnError(status);
    } else {
      callback->OnProgress(status);
    }
  }
}

bool TransferMonitorImpl::IsWatched(const std::string& transferId,
                                    TransferMonitorCallback* callback,
                                    const WatchList& handedOver) {
  const auto contains = [&](const WatchList& list) {
    const auto range = list.equal_range(transferId);
    for (auto it = range.first; it != range.second; ++it) {
      if (it->second == callback) return true;
    }
    return false;
  };
  if (contains(handedOver)) return true;
  std::lock_guard<std::mutex> lock(mutex_);
  return contains(watched_);
}

void TransferMonitorImpl::Hand(const std::string& transferId, WatchList& handedOver) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto range = watched_.equal_range(transferId);
  handedOver.insert(range.first, range.second);
  watched_.erase(range.first, range.second);
}

}  // namespace velmo
