#pragma once

#include <memory>
#include <string>

#include "velmo/manifest/PackageManifest.h"

namespace velmo {

class HttpSession;

// Fetches and checks the package manifest named by a package key.
class PackageManifestFactory {
 public:
  virtual ~PackageManifestFactory() = default;
  // The manifest of the package key; manifest exceptions on failure, and a
  // ManifestLocatorException when what arrived describes another package or
  // version.
  virtual std::shared_ptr<PackageManifest> Create(const std::string& key) = 0;
  // The same within a transfer's session, whose pooled connection a factory
  // that fetches over HTTP reuses; others ignore the session. By value: the
  // HTTP factories keep it in the request they make.
  virtual std::shared_ptr<PackageManifest> Create(
      const std::string& key,
      std::shared_ptr<HttpSession> /*session*/) {  // NOLINT(performance-unnecessary-value-param)
    return Create(key);
  }
  // Where the manifest of the key comes from, for error messages; empty when
  // the factory has no address to name. May throw ManifestLocatorException.
  virtual std::string Location(const std::string& /*key*/) const { return std::string(); }
  // True when the manifest is the one the key asks for.
  virtual bool Matches(const PackageManifest& manifest, const std::string& key) const = 0;
};

// The manifest's id equals the key's package id and, when the key names a
// version, its versionId equals that version. Exact comparisons.
bool PackageManifestMatchesKey(const PackageManifest& manifest, const std::string& key);

}  // namespace velmo
