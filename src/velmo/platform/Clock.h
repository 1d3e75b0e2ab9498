#pragma once

#include <cstdint>

namespace velmo {

// Milliseconds of a monotonic clock, truncated to 32 bits. The value wraps
// after about 49.7 days, so intervals are always computed as unsigned
// differences (modulo 2^32) and never by comparing two readings.
std::uint32_t TickCount();

// Elapsed milliseconds from `earlier` to `later`, correct across a wrap.
inline std::uint32_t TicksBetween(std::uint32_t earlier, std::uint32_t later) {
  return later - earlier;
}

}  // namespace velmo
