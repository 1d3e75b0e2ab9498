#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace velmo::test {

// Changes the four bytes of `bytes` at `at` so that the CRC-32 of the whole
// string is `target` again: what an attacker does to slip chosen bytes past
// a CRC-32 check. Throws std::invalid_argument when the four bytes do not fit.
void RestoreCrc32(std::string& bytes, std::size_t at, std::uint32_t target);

// `bytes` with its first `prefix` bytes replaced by 'F' and four bytes after
// them chosen so that the CRC-32 is unchanged (bytes must hold prefix + 4).
std::string ForgeKeepingCrc32(const std::string& bytes, std::size_t prefix = 16);

}  // namespace velmo::test
