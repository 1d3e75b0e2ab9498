#pragma once

// Splits a fuzzer's input into the values a target needs: numbers taken from
// the front, the rest as text. Reading past the end gives zeros and empty
// text, so every input is usable.
#include <cstddef>
#include <cstdint>
#include <string>

namespace velmo::fuzz {

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }

  std::uint64_t Number(unsigned bytes) {
    std::uint64_t value = 0;
    for (unsigned i = 0; i < bytes; ++i) value = (value << 8) | Byte();
    return value;
  }

  // Text up to the next NUL byte (taken), or the rest.
  std::string Text() {
    std::string text;
    while (at_ < size_ && data_[at_] != 0) text += static_cast<char>(data_[at_++]);
    if (at_ < size_) ++at_;
    return text;
  }

  std::string Rest() {
    std::string text(reinterpret_cast<const char*>(data_) + at_, size_ - at_);
    at_ = size_;
    return text;
  }

  bool Empty() const { return at_ >= size_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

}  // namespace velmo::fuzz
