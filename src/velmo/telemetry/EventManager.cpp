#include "velmo/telemetry/EventManager.h"

namespace velmo {

EventManager::EventManager(unsigned threadCount) : workManager_(threadCount) {}

EventManager::~EventManager() = default;

void EventManager::Submit(std::shared_ptr<SimpleWork> work) {
  workManager_.Execute(std::move(work));
}

void EventManager::JoinWorkManager() { workManager_.Join(); }

}  // namespace velmo
