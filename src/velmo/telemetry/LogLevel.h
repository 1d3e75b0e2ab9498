#pragma once

// Level bits of a work-log record. A record may set several; it is written when
// its level and the log mask share a bit.

#include <cstdint>

namespace velmo {

enum LogLevelBits : std::uint32_t {
  kLogTransferEvent = 1,  // a transfer event (every one but the periodic report)
  kLogWorkFailure = 2,    // a work completed with Fatal or RetryableError
  kLogWorkRetry = 4,      // a simple work repeats its task in place
  kLogWorkComplete = 8,   // a work completed with Success, Error or Interrupted
  kLogImportant = 16,     // the work describes itself with "important" = true
};

// Everything but the ordinary completions (bit 8): the signed value -9.
constexpr std::uint32_t kDefaultLogMask = 0xFFFFFFF7u;

constexpr bool LogLevelPasses(std::uint32_t level, std::uint32_t mask) {
  return (level & mask) != 0;
}

}  // namespace velmo
