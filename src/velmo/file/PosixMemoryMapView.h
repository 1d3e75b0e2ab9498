#pragma once

#include <cstdint>

#include "velmo/file/MemoryMappedFileData.h"

namespace velmo {

// A MAP_SHARED view of bytes first..last of a file, mapped from the page
// boundary at or below `first`. It keeps its own mapping, so it stays usable
// after the file descriptor is closed. Used by one thread at a time.
class PosixMemoryMapView : public MemoryMappedFileData {
 public:
  PosixMemoryMapView(int fd, std::uint64_t first, std::uint64_t last);
  ~PosixMemoryMapView() override;

  std::uint64_t GetPosition() override;
  void SetPosition(std::uint64_t offset) override;
  std::uint32_t Read(void* buffer, std::uint32_t count) override;
  std::uint32_t Write(const void* buffer, std::uint32_t count) override;
  std::uint8_t* Advance(std::uint32_t count) override;
  std::uint8_t* Data() override;
  std::uint32_t Apply(const ApplyFunction& function) override;
  void Fetch() override;

 private:
  void* base_ = nullptr;
  std::uint64_t mappedLength_ = 0;
  std::uint32_t startOffset_ = 0;  // distance from base_ to the byte at LowerBound()
  std::uint32_t position_ = 0;     // relative to LowerBound()
};

}  // namespace velmo
