// The response path of a chunk request, without a network: a response body
// arrives in blocks of any size for a chunk anywhere in a file, as libcurl
// hands it to the chunk's writer, and the transfer status is derived from
// libcurl's result and the HTTP status. Whatever a server sends, no byte
// lands outside the chunk, a body longer than the range ends in RangeError,
// and the chunk's progress counts exactly the bytes accepted.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "FuzzInput.h"
#include "velmo/file/BoundedFileData.h"
#include "velmo/http/CurlHttpRequest.h"
#include "velmo/transfer/works/TransferHttpWriter.h"
#include "velmo/transfer/works/TransferSharedFileData.h"
#include "velmo/transfer/works/TransferSharedMapData.h"

namespace {

constexpr std::size_t kGuard = 16;
constexpr std::uint8_t kGuardByte = 0xA5;

// A chunk's region in memory, with guard bytes on both sides, held to the
// same bounds checks as a mapped view.
class MemoryRegion : public velmo::BoundedFileData {
 public:
  MemoryRegion(std::uint64_t first, std::uint64_t last, std::size_t size)
      : BoundedFileData(first, last), bytes_(size + 2 * kGuard, kGuardByte), position_(first) {}

  std::uint64_t GetPosition() override { return position_; }
  void SetPosition(std::uint64_t offset) override { position_ = offset; }
  std::uint32_t Read(void*, std::uint32_t) override { return 0; }
  std::uint32_t Write(const void* buffer, std::uint32_t count) override {
    CheckAccess(position_, count);
    std::memcpy(bytes_.data() + kGuard + (position_ - LowerBound()), buffer, count);
    position_ += count;
    return count;
  }

  bool GuardsIntact() const {
    for (std::size_t i = 0; i < kGuard; ++i) {
      if (bytes_[i] != kGuardByte || bytes_[bytes_.size() - 1 - i] != kGuardByte) return false;
    }
    return true;
  }

 private:
  std::vector<std::uint8_t> bytes_;
  std::uint64_t position_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  velmo::fuzz::FuzzInput input(data, size);

  // libcurl's outcome and the HTTP status: only a clean transfer is success.
  const int curlCode = static_cast<int>(input.Byte());
  const long httpStatus = static_cast<long>(input.Number(2));
  const velmo::HttpRequestResult mapped = velmo::CurlHttpRequest::MapCurlCode(curlCode, httpStatus);
  if ((mapped == velmo::HttpRequestResult::Success) != (curlCode == 0)) __builtin_trap();

  // A chunk of 1 to 4096 bytes anywhere in a file of up to 2^64 bytes.
  const std::size_t chunkSize = 1 + static_cast<std::size_t>(input.Number(2) % 4096);
  std::uint64_t first = input.Number(8);
  if (first > UINT64_MAX - (chunkSize - 1)) first = UINT64_MAX - (chunkSize - 1);
  const std::uint64_t last = first + (chunkSize - 1);
  auto region = std::make_shared<MemoryRegion>(first, last, chunkSize);
  auto file = std::make_shared<velmo::TransferSharedFileData>("file", last + 1);
  auto chunk = std::make_shared<velmo::TransferSharedMapData>(file, first, last, 0, nullptr);
  velmo::TransferHttpWriter writer(region, chunk);

  std::uint64_t offered = 0;
  std::uint64_t accepted = 0;
  bool refused = false;
  while (!input.Empty()) {
    const std::size_t block = input.Number(2) % 9000;
    std::vector<char> body(block, static_cast<char>(input.Byte()));
    const velmo::HttpRequestStatus status = writer.Write(body.data(), body.size());
    offered += block;
    if (status.bytes > block) __builtin_trap();
    if (status.result == velmo::HttpRequestResult::Success) {
      if (status.bytes != block) __builtin_trap();
      accepted += status.bytes;
    } else {
      // A block that does not fit is refused whole.
      if (status.result != velmo::HttpRequestResult::RangeError || status.bytes != 0) {
        __builtin_trap();
      }
      if (accepted + block <= chunkSize) __builtin_trap();
      refused = true;
      break;  // libcurl stops the request here
    }
  }
  if (accepted > chunkSize || !region->GuardsIntact()) __builtin_trap();
  if (!refused && offered > chunkSize) __builtin_trap();
  if (chunk->fileProgressBytes.load() != accepted) __builtin_trap();
  return 0;
}
