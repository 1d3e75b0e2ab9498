#pragma once

#include <cstdint>
#include <functional>

#include "velmo/file/BoundedFileData.h"

namespace velmo {

// A mapped byte range of a file. A view stays valid after its file is closed;
// each chunk pipeline owns its view, so a view is used by one thread at a time.
class MemoryMappedFileData : public BoundedFileData {
 public:
  using ApplyFunction = std::function<std::uint32_t(const std::uint8_t* data, std::uint64_t size)>;

  // Checks the next `count` bytes, returns their address and moves past them;
  // null for a count of 0. The caller touches the bytes under a
  // MappedAccessGuard.
  virtual std::uint8_t* Advance(std::uint32_t count) = 0;
  // Address of the byte at LowerBound().
  virtual std::uint8_t* Data() = 0;
  // Calls `function` over the whole view under the fault guard and returns its
  // result (used to checksum a chunk in place). An empty function throws
  // std::bad_function_call.
  virtual std::uint32_t Apply(const ApplyFunction& function) = 0;
  // Touches every page of the view so its page faults happen at once.
  virtual void Fetch() = 0;

 protected:
  using BoundedFileData::BoundedFileData;
};

}  // namespace velmo
