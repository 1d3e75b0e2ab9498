#pragma once

// The live status of one transfer: the record the state machine writes, the
// byte counters the chunk works feed, and the speed and remaining-time
// estimates computed when a snapshot is taken.
//
// Threads: the four TransferProgressUpdater operations run on any number of
// work-manager threads at once and touch only atomics (two atomic additions per
// block written, no lock). Everything else - GetStatus, SetPackage, the record
// setters and getters, the sample queue and the estimate fields - is called by
// the owning transfer under its own lock, which serializes them; this class
// adds no lock for them. The two report marks (transferred bytes, active time)
// have mutexes of their own inside ReportedCounter, so an event may take a
// delta from any thread.

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "velmo/optimizer/NodeStatistics.h"
#include "velmo/transfer/TransferProgressUpdater.h"
#include "velmo/transfer/TransferStatus.h"

namespace velmo {

struct EngineSettings;
class PackageManifest;
class TransferParams;

class TransferStatusImpl : public TransferProgressUpdater {
 public:
  // Milliseconds of a monotonic clock, 32 bits, wrapping (TickCount by default).
  using TickSource = std::function<std::uint32_t()>;

  TransferStatusImpl(std::uint32_t speedWindowSeconds, std::uint32_t remainingRefreshMs,
                     TickSource ticks = TickSource());
  // The window and refresh interval from the engine settings (speedSampleWindow,
  // remainingTimeInterval); a negative setting counts as 0.
  explicit TransferStatusImpl(const EngineSettings& settings, TickSource ticks = TickSource());
  TransferStatusImpl(const TransferStatusImpl&) = delete;
  TransferStatusImpl& operator=(const TransferStatusImpl&) = delete;
  ~TransferStatusImpl() override = default;

  // The snapshot, with the identifiers taken from `params` (the transfer's
  // current parameters). Takes a speed sample and may move the estimates on,
  // so it is not const.
  TransferStatus GetStatus(const TransferParams& params);

  // Run path and total size of the package, once the transfer is Initialized.
  void SetPackage(const PackageManifest& manifest);

  TransferState GetState() const { return record_.state; }
  void SetState(TransferState state) { record_.state = state; }
  TransferError GetError() const { return record_.error; }
  bool IsRetryable() const { return record_.retryable; }
  const std::string& GetErrorCause() const { return record_.errorCause; }
  // `cause` says what failed and why (see TransferStatusData::GetCause).
  void SetError(TransferError error, bool retryable, std::string cause = std::string()) {
    record_.error = error;
    record_.retryable = retryable;
    record_.errorCause = error == TransferError::None ? std::string() : std::move(cause);
  }

  // See TransferStatus::storeError.
  void SetStoreError(std::string cause) { record_.storeError = std::move(cause); }

  void AddProgress(const std::uint64_t& bytes) override;
  // Never lowers the counter below zero: a rollback larger than what was
  // counted (a caller's mistake) must not wrap into an absurd progress.
  void RemoveProgress(const std::uint64_t& bytes) override;
  void AddVerified(const std::uint64_t& bytes) override;
  void AddDownloaded(const std::uint64_t& bytes) override;

  // Report marks: what accrued since the previous report, which becomes the
  // new mark. End, error and periodic events take both when they are made.
  std::uint64_t TakeTransferredDelta() { return transferred_.TakeDelta(); }
  std::uint64_t TakeActiveMsDelta() { return activeMs_.TakeDelta(); }
  // Active time since the last report, without taking it: the transfer's
  // periodic-report check.
  std::uint64_t PeekActiveMsDelta() { return activeMs_.PeekDelta(); }
  // True when more than `intervalSeconds` of active time has passed since the
  // last report (the periodicEventInterval setting).
  bool IsPeriodicReportDue(std::int32_t intervalSeconds);
  std::uint64_t GetActiveMs() const { return activeMs_.Load(); }

 private:
  struct Sample {
    std::uint32_t timeMs;
    std::uint64_t bytes;
  };

  std::int32_t EstimateRemaining(const TransferStatus& status, std::uint32_t now);
  std::uint64_t MeasureSpeed(const TransferStatus& status, std::uint32_t now);

  TransferStatus record_;  // state, error, retryable, runPath, totalBytes, storeError
  std::atomic<std::uint64_t> progress_{0};
  std::atomic<std::uint64_t> completed_{0};
  ReportedCounter<std::uint64_t> transferred_;
  ReportedCounter<std::uint64_t> activeMs_;
  const std::uint32_t speedWindowSeconds_;
  const std::uint32_t remainingRefreshMs_;
  const TickSource ticks_;
  std::deque<Sample> samples_;
  bool wasTransferring_ = false;
  std::int32_t cachedRemaining_ = -1;
  std::uint64_t lastEstimateActiveMs_ = 0;
};

}  // namespace velmo
