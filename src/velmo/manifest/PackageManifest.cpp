#include "velmo/manifest/PackageManifest.h"

namespace velmo {

std::uint64_t PackageManifest::GetTotalSize() const {
  std::uint64_t total = 0;
  for (const auto& file : GetFiles()) {
    total += file->GetSize();
  }
  return total;
}

}  // namespace velmo
