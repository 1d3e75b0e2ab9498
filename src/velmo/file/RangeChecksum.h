#pragma once

#include <cstddef>
#include <cstdint>

namespace velmo {

class Sha256Hasher;
class SharedFile;

// What a read-back of a byte range found.
struct RangeChecksum {
  std::uint32_t crc32 = 0;  // of the bytes read
  bool whole = false;       // false when the file ended before the range did
};

// Reads bytes [first, last] of `file` back in pieces of `bufferSize` through
// `buffer`, for the CRC-32 and, with `sha` given, the SHA-256 of what is there.
// The one read-back of chunks on disk: a resumed transfer's check of what an
// earlier run left, and the check of a program before it is started.
RangeChecksum ReadRangeChecksum(SharedFile& file, std::uint64_t first, std::uint64_t last,
                                std::uint8_t* buffer, std::size_t bufferSize, Sha256Hasher* sha);

}  // namespace velmo
