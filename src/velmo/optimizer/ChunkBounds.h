#pragma once

#include <cstdint>

namespace velmo {

// The byte range of one chunk of a file: first and last byte, inclusive. The
// per-chunk record of the chunk works carries it; node selection reads it to
// size the time limits of a request.
struct ChunkBounds {
  std::uint64_t lowerBound = 0;
  std::uint64_t upperBound = 0;
};

}  // namespace velmo
