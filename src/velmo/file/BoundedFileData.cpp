#include "velmo/file/BoundedFileData.h"

#include <new>

#include "velmo/file/FileException.h"

namespace velmo {

void BoundedFileData::CheckBounds(std::uint64_t first, std::uint64_t last) const {
  if (first > last || first < lowerBound_ || last > upperBound_) throw FileOutOfBoundsException();
}

void BoundedFileData::CheckRangeSize(std::uint64_t first, std::uint64_t last) {
  // Unsigned arithmetic: an empty range gives 0, a reversed one a huge value.
  if (last - first + 1 >= (std::uint64_t{1} << 32)) throw std::bad_alloc();
}

void BoundedFileData::CheckAccess(std::uint64_t position, std::uint32_t count) const {
  std::uint64_t last = position + count - 1;
  if (last < position) throw FileOutOfBoundsException();  // wrapped past 2^64
  CheckBounds(position, last);
  CheckRangeSize(position, last);
}

}  // namespace velmo
