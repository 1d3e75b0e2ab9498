#include "velmo/manifest/PackageKey.h"

namespace velmo {

std::string MakePackageKey(const std::string& packageId, const std::string& versionId) {
  return versionId.empty() ? packageId : packageId + "/" + versionId;
}

std::pair<std::string, std::string> SplitPackageKey(const std::string& key) {
  const auto slash = key.find('/');
  if (slash == std::string::npos) {
    return {key, std::string()};
  }
  return {key.substr(0, slash), key.substr(slash + 1)};
}

}  // namespace velmo
