#include "velmo/telemetry/EventManager.h"

namespace velmo {

EventManager::EventManager(unsigned threadCount) : workManager_(threadCount) {}

EventManager::~EventManager() = default;

void EventManager::Submit(std::shared_ptr<SimpleWork> work) {
  {
    std::unique_lock<std::mutex> lock(queueMutex_);
    if (!workManager_.OnPoolThread()) {
      // Once full, every producer waits until the queue is half empty, so
      // that late comers cannot keep it full while the first ones wait.
      if (queued_ >= kMaxQueued) draining_ = true;
      room_.wait_for(lock, kMaxWaitForRoom, [this] { return !draining_; });
    }
    ++queued_;
  }
  workManager_.Execute(std::move(work), [this] {
    bool drained = false;
    {
      std::lock_guard<std::mutex> lock(queueMutex_);
      drained = --queued_ <= kMaxQueued / 2 && draining_;
      if (drained) draining_ = false;
    }
    if (drained) room_.notify_all();
  });
}

void EventManager::JoinWorkManager() { workManager_.Join(); }

}  // namespace velmo
