#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>

#include "velmo/engine/EngineSettings.h"
#include "velmo/http/HttpRequestStatus.h"
#include "velmo/optimizer/OptimizedRequestParams.h"

namespace velmo {

class NodeStatistics;

// Chooses the node and time limits of every chunk request and learns from how
// each request went. One optimizer serves every transfer of the engine, so
// what it learns carries over from one transfer to the next within a run.
//
// Threads: GetNode and ReportResult are called concurrently by chunk requests
// on work-manager threads; both hold mutex_ for their whole duration, which
// guards the adaptive limits and everything a derived class decides with (its
// random engine, for example). Lock order: mutex_, then any lock of a derived
// class, then the mutex of a statistics object. GetStatistics takes no lock of
// this class, so that decisions can call it.
class TransferOptimizer {
 public:
  explicit TransferOptimizer(const EngineSettings& settings);
  virtual ~TransferOptimizer() = default;
  TransferOptimizer(const TransferOptimizer&) = delete;
  TransferOptimizer& operator=(const TransferOptimizer&) = delete;

  // Chooses a node from params.candidates and fills SelectedNode and the
  // limits. Throws std::invalid_argument for an empty candidate list or a
  // params record without ChunkData.
  virtual void GetNode(OptimizedRequestParams& params) = 0;

  // Takes in the outcome of one chunk request: its final HTTP status and its
  // duration in milliseconds. Adapts the time limits (unless the node was
  // being explored), then updates the statistics and ends the request's count
  // against its node.
  virtual void ReportResult(const OptimizedRequestParams& params, const HttpRequestStatus& status,
                            std::int32_t requestTimeMs);

  // Ends the count of a request against its node without learning anything
  // from it: for a request that was cancelled or interrupted, that threw, or
  // was never started after GetNode.
  //
  // Every GetNode must be followed, on every path, by ReportResult or by
  // ReleaseNode for the same params; calling either again, or both, is
  // harmless (the second call finds nothing to end). GetNode gives the
  // params a new lease and leaves an earlier one alone, so params copied for
  // a second request of the same chunk count both. A request still counted
  // long after its own time limits is dropped, so a missed call skews the
  // counts for a while but never for good.
  virtual void ReleaseNode(const OptimizedRequestParams& params) = 0;

  // The request of `params`, reported by ReportResult as a success of `bytes`
  // bytes in `requestTimeMs`, delivered a chunk that failed its checksum: the
  // node's statistics now count it as a failure, so the node loses weight as
  // it would for a failed request. Call it after that ReportResult, once per
  // bad chunk, before the params go to another GetNode.
  virtual void ReportChecksumFailure(const OptimizedRequestParams& params, std::uint64_t bytes,
                                     std::int32_t requestTimeMs) = 0;

  // How long until one of params.candidates may be asked again: none while
  // any of them is not backing off after failed requests (GetNode then
  // chooses among those), else the shortest of their waits. Here none.
  virtual std::chrono::milliseconds BackoffDelay(const OptimizedRequestParams& /*params*/) {
    return std::chrono::milliseconds(0);
  }

  // The statistics kept for a node: here the node's own counters.
  virtual std::shared_ptr<NodeStatistics> GetStatistics(const NodeManifest& node);

  std::int32_t GetAdaptiveConnectTimeout() const;
  std::int32_t GetAdaptiveLowSpeedTime() const;

  // True for the results after which a request counts as failed.
  static bool IsFailure(HttpRequestResult result);

 protected:
  // Called by ReportResult with mutex_ held (the lock is the proof).
  virtual void UpdateStatistics(std::unique_lock<std::mutex>& heldLock,
                                const OptimizedRequestParams& params,
                                const HttpRequestStatus& status, std::int32_t requestTimeMs) = 0;

  // The normal limits: the adaptive connect and low-speed times, a total
  // timeout that lets the chunk arrive at the minimum speed shared by all
  // parallel requests. Call with mutex_ held.
  void AssignNode(OptimizedRequestParams& params, std::shared_ptr<NodeManifest> node) const;

  // Size of the chunk in bytes; std::invalid_argument without ChunkData.
  static std::uint64_t ChunkSize(const OptimizedRequestParams& params);

  // max(size * threads / speed, floor), in 64 bits and capped to 32 bits: a
  // large chunk times many threads overflows 32-bit arithmetic.
  std::int32_t RequestTimeout(std::uint64_t size, std::int32_t speed, std::int32_t floor) const;
  std::int32_t LowSpeedLimit(std::int32_t speed) const;

  mutable std::mutex mutex_;
  const EngineSettings settings_;
  std::int32_t adaptiveConnectTimeout_;
  std::int32_t adaptiveLowSpeedTime_;
};

}  // namespace velmo
