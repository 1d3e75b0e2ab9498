#include "velmo/app/StringTable.h"

namespace velmo {

StringTable::~StringTable() = default;

namespace {

// Length in bytes of the well-formed UTF-8 sequence starting at `i`, or 0
// when the bytes there are not one.
std::size_t SequenceLength(const std::string& text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t length = 0;
  unsigned min = 0;
  unsigned code = 0;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1Fu;
    min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0Fu;
    min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07u;
    min = 0x10000;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0u) != 0x80u) return 0;
    code = (code << 6) | (byte(i + k) & 0x3Fu);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not characters.
  if (code < min || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return 0;
  return length;
}

}  // namespace

std::string LimitUtf16Units(const std::string& text, std::size_t maxUnits) {
  std::size_t units = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t length = SequenceLength(text, i);
    std::size_t needed = length == 4 ? 2 : 1;
    if (length == 0) length = 1;
    if (units + needed > maxUnits) break;
    units += needed;
    i += length;
  }
  return text.substr(0, i);
}

}  // namespace velmo
