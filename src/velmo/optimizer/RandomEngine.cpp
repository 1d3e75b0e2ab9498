#include "velmo/optimizer/RandomEngine.h"

#include <limits>
#include <stdexcept>

namespace velmo {

double UniformDouble(RandomEngine& engine) {
  return static_cast<double>(engine.Next()) * (1.0 / 4294967296.0);
}

std::uint32_t UniformIndex(RandomEngine& engine, std::uint32_t count) {
  if (count == 0) {
    throw std::invalid_argument("UniformIndex called with an empty range");
  }
  constexpr std::uint32_t kMax = std::numeric_limits<std::uint32_t>::max();
  const std::uint32_t range = count - 1;
  if (range == 0) {
    return 0;  // nothing to choose: the engine is not consumed
  }
  if (range == kMax) {
    return engine.Next();
  }
  std::uint32_t bucketSize = kMax / count;
  if (kMax % count == range) {
    ++bucketSize;
  }
  for (;;) {
    const std::uint32_t result = engine.Next() / bucketSize;
    if (result <= range) {
      return result;
    }
  }
}

}  // namespace velmo
