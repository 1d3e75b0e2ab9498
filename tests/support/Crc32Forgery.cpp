#include "support/Crc32Forgery.h"

#include <libdeflate.h>

#include <array>
#include <stdexcept>

namespace velmo::test {
namespace {

std::uint32_t Crc(const std::string& bytes) {
  return static_cast<std::uint32_t>(libdeflate_crc32(0, bytes.data(), bytes.size()));
}

std::uint32_t Window(const std::string& bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    v |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at + i])) << (8 * i);
  }
  return v;
}

void SetWindow(std::string& bytes, std::size_t at, std::uint32_t v) {
  for (std::size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
}

}  // namespace

// A CRC-32 is affine over GF(2): flipping bits of the window changes it by the
// XOR of the changes each bit makes alone. So the 32 single-bit changes form
// a matrix, and solving it for the wanted change gives the bits to flip.
void RestoreCrc32(std::string& bytes, std::size_t at, std::uint32_t target) {
  if (at > bytes.size() || bytes.size() - at < 4) {
    throw std::invalid_argument("RestoreCrc32: the window does not fit");
  }
  const std::uint32_t base = Window(bytes, at);
  const std::uint32_t now = Crc(bytes);
  std::array<std::uint32_t, 32> effect{};  // CRC change of flipping bit b
  std::array<std::uint32_t, 32> flips{};   // which window bits make that change
  for (std::size_t b = 0; b < 32; ++b) {
    SetWindow(bytes, at, base ^ (1u << b));
    effect[b] = Crc(bytes) ^ now;
    flips[b] = 1u << b;
  }
  SetWindow(bytes, at, base);
  // Gauss-Jordan elimination: row r ends up with only bit r of the change.
  for (std::size_t r = 0; r < 32; ++r) {
    std::size_t pivot = r;
    while (pivot < 32 && ((effect[pivot] >> r) & 1u) == 0) ++pivot;
    if (pivot == 32) throw std::logic_error("RestoreCrc32: singular window");
    std::swap(effect[r], effect[pivot]);
    std::swap(flips[r], flips[pivot]);
    for (std::size_t other = 0; other < 32; ++other) {
      if (other != r && ((effect[other] >> r) & 1u) != 0) {
        effect[other] ^= effect[r];
        flips[other] ^= flips[r];
      }
    }
  }
  const std::uint32_t wanted = now ^ target;
  std::uint32_t flip = 0;
  for (std::size_t r = 0; r < 32; ++r) {
    if ((wanted >> r) & 1u) flip ^= flips[r];
  }
  SetWindow(bytes, at, base ^ flip);
}

std::string ForgeKeepingCrc32(const std::string& bytes, std::size_t prefix) {
  std::string forged = bytes;
  if (forged.size() < prefix + 4) throw std::invalid_argument("ForgeKeepingCrc32: too short");
  for (std::size_t i = 0; i < prefix; ++i) forged[i] = 'F';
  RestoreCrc32(forged, prefix, Crc(bytes));
  return forged;
}

}  // namespace velmo::test
