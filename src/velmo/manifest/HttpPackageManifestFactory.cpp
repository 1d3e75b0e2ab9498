#include "velmo/manifest/HttpPackageManifestFactory.h"

#include "velmo/manifest/ManifestExceptions.h"
#include "velmo/manifest/ManifestLocations.h"
#include "velmo/manifest/ManifestTrust.h"
#include "velmo/manifest/StandardPackageManifest.h"
#include "velmo/manifest/XmlHttpManifestSource.h"

namespace velmo {

HttpPackageManifestFactory::HttpPackageManifestFactory(std::string manifestHost,
                                                       HttpRequestFactory* requestFactory,
                                                       std::int32_t connectTimeout,
                                                       std::int32_t timeout,
                                                       std::shared_ptr<const ManifestTrust> trust)
    : manifestHost_(std::move(manifestHost)),
      requestFactory_(requestFactory),
      connectTimeout_(connectTimeout),
      timeout_(timeout),
      trust_(std::move(trust)) {}

std::shared_ptr<PackageManifest> HttpPackageManifestFactory::Create(const std::string& key) {
  return Create(key, nullptr);
}

bool HttpPackageManifestFactory::Matches(const PackageManifest& manifest,
                                         const std::string& key) const {
  return PackageManifestMatchesKey(manifest, key);
}

std::shared_ptr<PackageManifest> XmlHttpPackageManifestFactory::Create(
    const std::string& key, std::shared_ptr<HttpSession> session) {
  XmlHttpManifestSource source(BuildUrl(key), requestFactory_, std::move(session), connectTimeout_,
                               timeout_);
  auto manifest = std::make_shared<StandardPackageManifest>();
  if (trust_) {
    source.ReadTrusted(key, *manifest, *trust_, "package");
  } else {
    source.Read(key, *manifest);
  }
  if (!Matches(*manifest, key)) {
    throw ManifestLocatorException();
  }
  if (trust_ && trust_->IsEnabled()) trust_->CheckStrongHashes(*manifest);
  return manifest;
}

std::string XmlHttpPackageManifestFactory::BuildUrl(const std::string& key) const {
  return PackageManifestUrl(manifestHost_, key);
}

}  // namespace velmo
