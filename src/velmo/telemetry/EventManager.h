#pragma once

// Base of the two fire-and-forget record sinks, the analytics sender and the
// work log. Each owns its own pool of threads; producers on any thread create a
// record work, fill it and Submit it, which only queues it and returns.
//
// Derived classes must call JoinWorkManager() first in their destructors, so
// that every record already submitted (and everything those records submit in
// turn) is handled while the derived object still exists.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "velmo/telemetry/TrackEventWork.h"
#include "velmo/work/AsioWorkManager.h"

namespace velmo {

class EventManager {
 public:
  virtual ~EventManager();
  EventManager(const EventManager&) = delete;
  EventManager& operator=(const EventManager&) = delete;

  // A new, empty record work of `category` (the analytics category, or the
  // work log's level bits).
  virtual std::shared_ptr<TrackEventWork> CreateEvent(std::int32_t category) = 0;

  // Queues `work` on the manager's own threads. Returns at once while fewer
  // than kMaxQueued records wait; past that a producer waits (up to
  // kMaxWaitForRoom) until the queue has drained to half, so a transfer that
  // outruns its log or analytics slows to their pace instead of holding
  // every record, and the work each record describes, in memory. Waiting for
  // half rather than for one free place wakes producers once per 512 records,
  // not once per record. Records submitted by records (on the manager's own
  // threads) never wait: the queue would then wait on itself.
  virtual void Submit(std::shared_ptr<SimpleWork> work);

  static constexpr std::size_t kMaxQueued = 1024;
  // Room is made as records are handled, and they take only leaf locks; the
  // bound keeps an unforeseen wait on a stuck sink from stopping a producer
  // for good: past it the record is queued anyway.
  static constexpr std::chrono::seconds kMaxWaitForRoom{2};

 protected:
  explicit EventManager(unsigned threadCount);

  // Lets the queue drain and ends the threads.
  void JoinWorkManager();

 private:
  std::mutex queueMutex_;  // a leaf lock
  std::condition_variable room_;
  std::size_t queued_ = 0;  // submitted, not yet handled; guarded by queueMutex_
  bool draining_ = false;   // producers wait for half; guarded by queueMutex_
  AsioWorkManager workManager_;
};

}  // namespace velmo
