#pragma once

#include "velmo/telemetry/LogManager.h"
#include "velmo/work/WorkCallbacks.h"

namespace velmo {

// The work log as the works see it: a completion and retry observer that the
// transfer works register (non-owning) when they are built. Both callbacks run
// on the thread that completed or retried the work, so implementations only
// queue a formatting work and return.
class WorkLogManager : public LogManager,
                       public WorkCompleteCallback,
                       public SimpleWorkRetryCallback {
 public:
  ~WorkLogManager() override = default;

 protected:
  using LogManager::LogManager;
};

}  // namespace velmo
