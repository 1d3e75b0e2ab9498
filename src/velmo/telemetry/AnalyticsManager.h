#pragma once

#include "velmo/telemetry/EventManager.h"

namespace velmo {

// The type under which the engine holds its analytics sender.
class AnalyticsManager : public EventManager {
 protected:
  using EventManager::EventManager;
};

}  // namespace velmo
