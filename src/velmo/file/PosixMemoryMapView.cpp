#include "velmo/file/PosixMemoryMapView.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <stdexcept>

#include "velmo/file/FileException.h"
#include "velmo/file/MappedAccessGuard.h"

namespace velmo {

namespace {

std::uint64_t PageSize() {
  static const std::uint64_t size = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
  return size;
}

}  // namespace

PosixMemoryMapView::PosixMemoryMapView(int fd, std::uint64_t first, std::uint64_t last)
    : MemoryMappedFileData(first, last) {
  CheckBounds(first, last);
  CheckRangeSize(first, last);
  startOffset_ = static_cast<std::uint32_t>(first % PageSize());
  std::uint64_t alignedStart = first - startOffset_;
  CheckRangeSize(alignedStart, last);
  mappedLength_ = last - alignedStart + 1;
  void* base = ::mmap(nullptr, mappedLength_, PROT_READ | PROT_WRITE, MAP_SHARED, fd,
                      static_cast<off_t>(alignedStart));
  if (base == MAP_FAILED) {
    int error = errno;
    // EINVAL/ENODEV here mean the descriptor cannot be mapped at all.
    if (error == EINVAL || error == ENODEV || error == EBADF) throw FileInvalidMapException();
    ThrowFileError(error);
  }
  base_ = base;
}

PosixMemoryMapView::~PosixMemoryMapView() {
  if (base_) ::munmap(base_, mappedLength_);
}

std::uint64_t PosixMemoryMapView::GetPosition() { return LowerBound() + position_; }

void PosixMemoryMapView::SetPosition(std::uint64_t offset) {
  CheckBounds(offset, offset);
  position_ = static_cast<std::uint32_t>(offset - LowerBound());
}

std::uint8_t* PosixMemoryMapView::Advance(std::uint32_t count) {
  if (count == 0) return nullptr;
  CheckAccess(GetPosition(), count);
  std::uint8_t* p = Data() + position_;
  position_ += count;
  return p;
}

std::uint8_t* PosixMemoryMapView::Data() {
  return static_cast<std::uint8_t*>(base_) + startOffset_;
}

std::uint32_t PosixMemoryMapView::Read(void* buffer, std::uint32_t count) {
  std::uint32_t n = std::min(count, kMaxReadSize);
  std::uint8_t* p = Advance(n);
  if (!p) return 0;
  MappedAccessGuard::Run([&] { std::memcpy(buffer, p, n); });
  return n;
}

std::uint32_t PosixMemoryMapView::Write(const void* buffer, std::uint32_t count) {
  if (count == 0) return 0;
  CheckAccess(GetPosition(), count);
  std::uint8_t* p = Data() + position_;
  MappedAccessGuard::Run([&] { std::memcpy(p, buffer, count); });
  position_ += count;
  return count;
}

std::uint32_t PosixMemoryMapView::Apply(const ApplyFunction& function) {
  if (!function) throw std::bad_function_call();
  std::uint32_t result = 0;
  const std::uint8_t* data = Data();
  std::uint64_t size = UpperBound() - LowerBound() + 1;
  MappedAccessGuard::Run([&] { result = function(data, size); });
  return result;
}

void PosixMemoryMapView::Fetch() {
  const volatile std::uint8_t* data = Data();
  std::uint64_t size = UpperBound() - LowerBound() + 1;
  std::uint64_t page = PageSize();
  std::uint8_t accumulator = 0;
  MappedAccessGuard::Run([&] {
    for (std::uint64_t offset = 0; offset < size; offset += page) {
      accumulator = static_cast<std::uint8_t>(accumulator & data[offset]);
    }
  });
  if (accumulator != 0) {
    throw std::logic_error(
        "PosixMemoryMapView::Fetch: actual logic error, dummy result must be zero");
  }
}

}  // namespace velmo
