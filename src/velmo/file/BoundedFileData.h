#pragma once

#include <cstdint>

namespace velmo {

// A bounded byte region of a file, read and written at a current position.
// Ranges are inclusive pairs (first byte, last byte) of unsigned 64-bit offsets.
// Objects are shared by pointer and never copied.
class BoundedFileData {
 public:
  static constexpr std::uint32_t kMaxReadSize = 4096;

  virtual ~BoundedFileData() = default;
  BoundedFileData(const BoundedFileData&) = delete;
  BoundedFileData& operator=(const BoundedFileData&) = delete;

  virtual std::uint64_t GetPosition() = 0;
  virtual void SetPosition(std::uint64_t offset) = 0;
  // Reads at most kMaxReadSize bytes; returns the count read.
  virtual std::uint32_t Read(void* buffer, std::uint32_t count) = 0;
  // Writes all `count` bytes or throws; never truncates at the bound.
  virtual std::uint32_t Write(const void* buffer, std::uint32_t count) = 0;

  std::uint64_t LowerBound() const { return lowerBound_; }
  std::uint64_t UpperBound() const { return upperBound_; }

  // Throws FileOutOfBoundsException unless first <= last and both lie inside.
  void CheckBounds(std::uint64_t first, std::uint64_t last) const;
  // Throws std::bad_alloc unless the range holds fewer than 2^32 bytes (an
  // empty range, last == first - 1, passes).
  static void CheckRangeSize(std::uint64_t first, std::uint64_t last);

 protected:
  BoundedFileData(std::uint64_t lowerBound, std::uint64_t upperBound)
      : lowerBound_(lowerBound), upperBound_(upperBound) {}

  // Checks the n bytes starting at `position` the way Read and Write do.
  void CheckAccess(std::uint64_t position, std::uint32_t count) const;

 private:
  const std::uint64_t lowerBound_;
  const std::uint64_t upperBound_;
};

}  // namespace velmo
