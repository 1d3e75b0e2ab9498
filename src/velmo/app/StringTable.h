#pragma once

#include <cstddef>
#include <string>

namespace velmo {

// The bootstrapper's string table: numbered UTF-8 texts fixed when the program
// is built (the identifiers of what it downloads, its display name, its
// language list). The program reads the table compiled into it; tests inject
// their own.
class StringTable {
 public:
  virtual ~StringTable();

  // The text with number `id`, at most kMaxStringUnits UTF-16 code units
  // long; an empty string when the table has no such entry.
  virtual std::string Load(unsigned id) const = 0;
};

// Longest text a string-table read returns, in UTF-16 code units: the table
// was designed to be read into a 255-unit buffer that keeps a terminator.
inline constexpr std::size_t kMaxStringUnits = 254;

// The longest prefix of the UTF-8 `text` that takes at most `maxUnits` UTF-16
// code units. A character is never split: one that needs a surrogate pair
// and does not fit is left out whole. A byte that is not valid UTF-8 counts
// as one unit (it would be one replacement character).
std::string LimitUtf16Units(const std::string& text, std::size_t maxUnits);

}  // namespace velmo
