#include "velmo/manifest/HttpNodeListManifestFactory.h"

#include "velmo/manifest/ManifestLocations.h"
#include "velmo/manifest/ManifestTrust.h"
#include "velmo/manifest/StandardNodeListManifest.h"
#include "velmo/manifest/XmlHttpManifestSource.h"

namespace velmo {

HttpNodeListManifestFactory::HttpNodeListManifestFactory(std::string manifestHost,
                                                         HttpRequestFactory* requestFactory,
                                                         std::int32_t connectTimeout,
                                                         std::int32_t timeout,
                                                         std::shared_ptr<const ManifestTrust> trust)
    : manifestHost_(std::move(manifestHost)),
      requestFactory_(requestFactory),
      connectTimeout_(connectTimeout),
      timeout_(timeout),
      trust_(std::move(trust)) {}

std::shared_ptr<NodeListManifest> HttpNodeListManifestFactory::Create(const std::string& key) {
  return Create(key, nullptr);
}

std::shared_ptr<NodeListManifest> XmlHttpNodeListManifestFactory::Create(
    const std::string& key, std::shared_ptr<HttpSession> session) {
  XmlHttpManifestSource source(BuildUrl(key), requestFactory_, std::move(session), connectTimeout_,
                               timeout_);
  auto manifest = std::make_shared<StandardNodeListManifest>();
  if (trust_) {
    source.ReadTrusted(key, *manifest, *trust_, "ArrayOfNodeInfo");
  } else {
    source.Read(key, *manifest);
  }
  return manifest;
}

std::string XmlHttpNodeListManifestFactory::BuildUrl(const std::string& key) const {
  return NodeListUrl(manifestHost_, key);
}

}  // namespace velmo
