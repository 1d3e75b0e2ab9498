#include "velmo/engine/EngineSettings.h"

#include "velmo/platform/BuildValues.h"
#include "velmo/platform/System.h"

namespace velmo {

EngineSettings::EngineSettings() : EngineSettings(ProcessorCount()) {}

EngineSettings::EngineSettings(unsigned processorCount) : manifestHost(build::kManifestHost) {
  const std::uint32_t p = processorCount > 1 ? processorCount : 1u;
  transferThreadCount = p + 2;
  workflowConcurrency = p + 2;
  parallelWorkCapacity = p + 2;
}

}  // namespace velmo
