#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "velmo/manifest/NodeListManifestFactory.h"

namespace velmo {

class HttpRequestFactory;
class HttpSession;
class ManifestTrust;

// Node lists from the manifest server over HTTP; host and timeouts as for
// package manifests.
class HttpNodeListManifestFactory : public NodeListManifestFactory {
 public:
  HttpNodeListManifestFactory(std::string manifestHost, HttpRequestFactory* requestFactory,
                              std::int32_t connectTimeout = 10, std::int32_t timeout = 30,
                              std::shared_ptr<const ManifestTrust> trust = nullptr);

  // Create (key, no session).
  std::shared_ptr<NodeListManifest> Create(const std::string& key) override;
  std::shared_ptr<NodeListManifest> Create(const std::string& key,
                                           std::shared_ptr<HttpSession> session) override = 0;
  virtual std::string BuildUrl(const std::string& key) const = 0;
  std::string Location(const std::string& key) const override { return BuildUrl(key); }

 protected:
  std::string manifestHost_;
  HttpRequestFactory* requestFactory_;
  std::int32_t connectTimeout_;
  std::int32_t timeout_;
  // Checks every document when it holds keys; null checks nothing.
  std::shared_ptr<const ManifestTrust> trust_;
};

// The XML node list at /nodes/<partner id>.xml.
class XmlHttpNodeListManifestFactory : public HttpNodeListManifestFactory {
 public:
  using HttpNodeListManifestFactory::Create;
  using HttpNodeListManifestFactory::HttpNodeListManifestFactory;

  std::shared_ptr<NodeListManifest> Create(const std::string& key,
                                           std::shared_ptr<HttpSession> session) override;
  std::string BuildUrl(const std::string& key) const override;
};

}  // namespace velmo
