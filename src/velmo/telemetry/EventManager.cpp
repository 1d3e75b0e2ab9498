#include "velmo/telemetry/EventManager.h"

namespace velmo {

EventManager::EventManager(unsigned threadCount) : workManager_(threadCount) {}

EventManager::~EventManager() = default;

void EventManager::Submit(std::shared_ptr<SimpleWork> work) {
  {
    std::unique_lock<std::mutex> lock(queueMutex_);
    if (!workManager_.OnPoolThread()) {
      room_.wait_for(lock, kMaxWaitForRoom, [this] { return queued_ < kMaxQueued; });
    }
    ++queued_;
  }
  workManager_.Execute(std::move(work), [this] {
    {
      std::lock_guard<std::mutex> lock(queueMutex_);
      --queued_;
    }
    room_.notify_one();
  });
}

void EventManager::JoinWorkManager() { workManager_.Join(); }

}  // namespace velmo
