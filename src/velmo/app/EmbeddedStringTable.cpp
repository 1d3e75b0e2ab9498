#include "velmo/app/EmbeddedStringTable.h"

namespace velmo {

EmbeddedStringTable::EmbeddedStringTable(const build::StringEntry* entries) : entries_(entries) {}

std::string EmbeddedStringTable::Load(unsigned id) const {
  // The table holds about ten entries: a linear scan is the simplest correct
  // lookup and does not rely on the generator's ordering.
  for (const build::StringEntry* entry = entries_; entry && entry->text; ++entry) {
    if (entry->id == id) return LimitUtf16Units(entry->text, kMaxStringUnits);
  }
  return std::string();
}

}  // namespace velmo
