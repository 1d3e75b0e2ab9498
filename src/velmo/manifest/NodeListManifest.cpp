#include "velmo/manifest/NodeListManifest.h"

namespace velmo {

std::uint32_t NodeListManifest::GetTotalWeight() const {
  std::uint32_t total = 0;
  for (const auto& node : GetNodes()) {
    total += static_cast<std::uint32_t>(node->GetWeight());
  }
  return total;
}

}  // namespace velmo
