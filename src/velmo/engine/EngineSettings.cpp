#include "velmo/engine/EngineSettings.h"

#include <algorithm>

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

std::size_t ChunkBufferMemoryFor(const EngineSettings& settings) {
  // Every work thread may be running a request, and one more thread runs the
  // tail request above the workflow's bound.
  const std::size_t slots = std::size_t{settings.transferThreadCount} + 1;
  return std::max<std::size_t>(settings.chunkBufferMemory, slots * settings.chunkBufferSize);
}

}  // namespace velmo
