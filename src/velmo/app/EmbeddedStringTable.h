#pragma once

#include "velmo/app/StringTable.h"
#include "velmo/platform/BuildValues.h"

namespace velmo {

// The string table compiled into the program from its branding file.
class EmbeddedStringTable final : public StringTable {
 public:
  // `entries` is sorted by id and ends with {0, nullptr}; the default is the
  // program's own table.
  explicit EmbeddedStringTable(const build::StringEntry* entries = build::kStrings);

  std::string Load(unsigned id) const override;

 private:
  const build::StringEntry* entries_;
};

}  // namespace velmo
