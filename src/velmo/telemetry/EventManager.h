#pragma once

// Base of the two fire-and-forget record sinks, the analytics sender and the
// work log. Each owns its own pool of threads; producers on any thread create a
// record work, fill it and Submit it, which only queues it and returns.
//
// Derived classes must call JoinWorkManager() first in their destructors, so
// that every record already submitted (and everything those records submit in
// turn) is handled while the derived object still exists.

#include <cstdint>
#include <memory>

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

  // Queues `work` on the manager's own threads and returns at once.
  virtual void Submit(std::shared_ptr<SimpleWork> work);

 protected:
  explicit EventManager(unsigned threadCount);

  // Lets the queue drain and ends the threads.
  void JoinWorkManager();

 private:
  AsioWorkManager workManager_;
};

}  // namespace velmo
