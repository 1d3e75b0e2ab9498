#include "velmo/platform/Clock.h"

#include <chrono>

namespace velmo {

std::uint32_t TickCount() {
  auto now = std::chrono::steady_clock::now().time_since_epoch();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ms));
}

}  // namespace velmo
