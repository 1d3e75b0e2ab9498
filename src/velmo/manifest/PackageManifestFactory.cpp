#include "velmo/manifest/PackageManifestFactory.h"

#include "velmo/manifest/PackageKey.h"

namespace velmo {

bool PackageManifestMatchesKey(const PackageManifest& manifest, const std::string& key) {
  const auto [packageId, versionId] = SplitPackageKey(key);
  return manifest.GetId() == packageId &&
         (versionId.empty() || manifest.GetVersionId() == versionId);
}

}  // namespace velmo
