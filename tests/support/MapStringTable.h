#pragma once

#include <map>
#include <string>

#include "velmo/app/StringTable.h"

namespace velmo::test {

// A string table held in a map, for tests that choose their own build values.
// It returns its texts unchanged (no length limit), so the reader's own
// limit is what a test sees.
class MapStringTable final : public StringTable {
 public:
  MapStringTable() = default;
  explicit MapStringTable(std::map<unsigned, std::string> entries) : entries_(std::move(entries)) {}

  void Set(unsigned id, std::string text) { entries_[id] = std::move(text); }

  std::string Load(unsigned id) const override {
    auto it = entries_.find(id);
    return it == entries_.end() ? std::string() : it->second;
  }

 private:
  std::map<unsigned, std::string> entries_;
};

}  // namespace velmo::test
