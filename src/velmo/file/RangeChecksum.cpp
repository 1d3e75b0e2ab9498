#include "velmo/file/RangeChecksum.h"

#include <libdeflate.h>

#include <algorithm>

#include "velmo/file/Sha256Hasher.h"
#include "velmo/file/SharedFile.h"

namespace velmo {

RangeChecksum ReadRangeChecksum(SharedFile& file, std::uint64_t first, std::uint64_t last,
                                std::uint8_t* buffer, std::size_t bufferSize, Sha256Hasher* sha) {
  RangeChecksum result;
  for (std::uint64_t at = first; at <= last;) {
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(bufferSize, last - at + 1));
    const std::size_t got = file.ReadAt(at, buffer, want);
    result.crc32 = static_cast<std::uint32_t>(libdeflate_crc32(result.crc32, buffer, got));
    if (sha) sha->Update(buffer, got);
    if (got < want) return result;  // the file is shorter: the checksum cannot match
    at += want;
  }
  result.whole = true;
  return result;
}

}  // namespace velmo
