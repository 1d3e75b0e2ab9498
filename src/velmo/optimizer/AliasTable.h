#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "velmo/optimizer/RandomEngine.h"

namespace velmo {

// A discrete distribution over indices, drawn in constant time with Walker's
// alias method. Each entry holds the probability of keeping its own index and
// the alias taken otherwise. The table is built like the Boost random
// library's, but a draw takes the uniform double first and the index second.
class AliasTable {
 public:
  // Weights need not sum to 1; they must not be negative and, unless the list
  // is empty, not all 0. An empty list gives the single entry (1.0, 0).
  explicit AliasTable(const std::vector<double>& weights);

  std::uint32_t Draw(RandomEngine& engine) const;

  const std::vector<std::pair<double, std::uint32_t>>& Entries() const { return entries_; }

 private:
  std::vector<std::pair<double, std::uint32_t>> entries_;
};

}  // namespace velmo
