#include "velmo/optimizer/AliasTable.h"

#include <numeric>

namespace velmo {

AliasTable::AliasTable(const std::vector<double>& weights) {
  if (weights.empty()) {
    entries_.emplace_back(1.0, 0);
    return;
  }
  const std::size_t size = weights.size();
  entries_.resize(size);
  const double average =
      std::accumulate(weights.begin(), weights.end(), 0.0) / static_cast<double>(size);
  // Scaled so that the average weight is 1: an entry below 1 keeps its own
  // index that often and borrows the rest from an entry above 1.
  std::vector<std::pair<double, std::uint32_t>> below;
  std::vector<std::pair<double, std::uint32_t>> above;
  below.reserve(size);
  above.reserve(size);
  for (std::size_t i = 0; i < size; ++i) {
    const std::pair<double, std::uint32_t> entry(weights[i] / average,
                                                 static_cast<std::uint32_t>(i));
    (entry.first < 1.0 ? below : above).push_back(entry);
  }
  auto b = below.begin();
  auto a = above.begin();
  while (b != below.end() && a != above.end()) {
    entries_[b->second] = std::make_pair(b->first, a->second);
    a->first -= 1.0 - b->first;
    if (a->first < 1.0) {
      *b = *a++;
    } else {
      ++b;
    }
  }
  for (; b != below.end(); ++b) {
    entries_[b->second].first = 1.0;
  }
  for (; a != above.end(); ++a) {
    entries_[a->second].first = 1.0;
  }
}

std::uint32_t AliasTable::Draw(RandomEngine& engine) const {
  const double u = UniformDouble(engine);
  const std::uint32_t i = UniformIndex(engine, static_cast<std::uint32_t>(entries_.size()));
  return u < entries_[i].first ? i : entries_[i].second;
}

}  // namespace velmo
