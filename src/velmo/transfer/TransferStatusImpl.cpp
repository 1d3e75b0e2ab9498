#include "velmo/transfer/TransferStatusImpl.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "velmo/engine/EngineSettings.h"
#include "velmo/engine/TransferParams.h"
#include "velmo/manifest/PackageManifest.h"
#include "velmo/platform/Clock.h"

namespace velmo {

namespace {

std::uint32_t NotNegative(std::int32_t value) {
  return value > 0 ? static_cast<std::uint32_t>(value) : 0;
}

bool IsActive(const TransferStatus& status) {
  return status.state == TransferState::Transferring && status.error == TransferError::None;
}

}  // namespace

TransferStatusImpl::TransferStatusImpl(std::uint32_t speedWindowSeconds,
                                       std::uint32_t remainingRefreshMs, TickSource ticks)
    : speedWindowSeconds_(speedWindowSeconds),
      remainingRefreshMs_(remainingRefreshMs),
      ticks_(ticks ? std::move(ticks) : TickSource(&TickCount)) {
  record_.state = TransferState::Initializing;
}

TransferStatusImpl::TransferStatusImpl(const EngineSettings& settings, TickSource ticks)
    : TransferStatusImpl(NotNegative(settings.speedSampleWindow),
                         NotNegative(settings.remainingTimeInterval), std::move(ticks)) {}

bool TransferStatusImpl::IsPeriodicReportDue(std::int32_t intervalSeconds) {
  return PeekActiveMsDelta() > static_cast<std::uint64_t>(NotNegative(intervalSeconds)) * 1000;
}

TransferStatus TransferStatusImpl::GetStatus(const TransferParams& params) {
  TransferStatus status = record_;
  status.transferId = params.transferId;
  status.partnerId = params.partnerId;
  status.packageId = params.packageId;
  status.versionId = params.versionId;
  status.destPath = params.destPath;
  if (status.state != TransferState::Completed) status.runPath.clear();
  status.transferredBytes = transferred_.Load();
  status.progressBytes = progress_.load(std::memory_order_relaxed);
  status.completedBytes = completed_.load(std::memory_order_relaxed);
  // One reading for both estimates, so that the time active time grows by is
  // exactly the time the new speed sample is taken at.
  const std::uint32_t now = ticks_();
  status.secondsRemaining = EstimateRemaining(status, now);
  status.speed = MeasureSpeed(status, now);
  return status;
}

void TransferStatusImpl::SetPackage(const PackageManifest& manifest) {
  record_.runPath = manifest.GetRun();
  record_.totalBytes = manifest.GetTotalSize();
}

void TransferStatusImpl::AddProgress(const std::uint64_t& bytes) {
  progress_.fetch_add(bytes, std::memory_order_relaxed);
}

void TransferStatusImpl::RemoveProgress(const std::uint64_t& bytes) {
  std::uint64_t current = progress_.load(std::memory_order_relaxed);
  std::uint64_t next = 0;
  do {
    next = current > bytes ? current - bytes : 0;
  } while (!progress_.compare_exchange_weak(current, next, std::memory_order_relaxed));
}

void TransferStatusImpl::AddVerified(const std::uint64_t& bytes) {
  completed_.fetch_add(bytes, std::memory_order_relaxed);
}

void TransferStatusImpl::AddDownloaded(const std::uint64_t& bytes) { transferred_.Add(bytes); }

std::int32_t TransferStatusImpl::EstimateRemaining(const TransferStatus& status,
                                                   std::uint32_t now) {
  // Active time grows between two consecutive polls only when the transfer was
  // transferring at the previous poll and still is.
  if (status.transferredBytes != 0 && IsActive(status) && !samples_.empty() && wasTransferring_) {
    activeMs_.Add(TicksBetween(samples_.back().timeMs, now));
  }
  const std::uint64_t activeMs = activeMs_.Load();
  if (activeMs == 0) return -1;
  // Recompute at most once per refresh interval of active time, so that the
  // figure shown does not jitter.
  if (IsActive(status) && activeMs < lastEstimateActiveMs_ + remainingRefreshMs_) {
    return cachedRemaining_;
  }
  std::int32_t estimate = -1;
  if (status.transferredBytes != 0) {
    // More progress than total (a package that shrank underneath, a caller's
    // mistake) means nothing is left, not 2^64 bytes.
    const std::uint64_t left =
        status.totalBytes > status.progressBytes ? status.totalBytes - status.progressBytes : 0;
    const double seconds = std::ceil(static_cast<double>(activeMs) /
                                     (static_cast<double>(status.transferredBytes) * 1000.0) *
                                     static_cast<double>(left));
    const double largest = static_cast<double>(std::numeric_limits<std::int32_t>::max());
    estimate = seconds >= largest ? std::numeric_limits<std::int32_t>::max()
                                  : static_cast<std::int32_t>(seconds);
  }
  cachedRemaining_ = estimate;
  lastEstimateActiveMs_ = activeMs;
  return cachedRemaining_;
}

std::uint64_t TransferStatusImpl::MeasureSpeed(const TransferStatus& status, std::uint32_t now) {
  if (!IsFinal(status) && (status.state == TransferState::Transferring ||
                           status.state == TransferState::TransferringPaused)) {
    samples_.push_back(Sample{now, status.transferredBytes});
    while (samples_.size() > 2 &&
           TicksBetween(samples_.front().timeMs, now) / 1000 >= speedWindowSeconds_) {
      samples_.pop_front();
    }
    wasTransferring_ = IsActive(status);
  } else {
    // Out of the transferring states (suspended, restored, initializing
    // again): the next poll that finds the transfer running again must not
    // count the time spent away as active time.
    wasTransferring_ = false;
  }
  if (samples_.size() < 2) return 0;
  const Sample& oldest = samples_.front();
  const Sample& newest = samples_.back();
  const std::uint64_t bytes = newest.bytes > oldest.bytes ? newest.bytes - oldest.bytes : 0;
  const std::uint64_t seconds = TicksBetween(oldest.timeMs, newest.timeMs) / 1000;
  // A window of 0 seconds (a misconfiguration) must not divide by zero.
  const std::uint64_t divisor = std::max<std::uint64_t>({seconds, speedWindowSeconds_, 1});
  return bytes / divisor;
}

}  // namespace velmo
