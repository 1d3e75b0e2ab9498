#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "velmo/manifest/PackageManifestFactory.h"

namespace velmo {

class HttpRequestFactory;
class HttpSession;
class ManifestTrust;

// Package manifests from the manifest server over HTTP. The engine fills the
// host and the two timeouts from its settings (manifestHost,
// manifestConnectTimeout, manifestTimeout).
class HttpPackageManifestFactory : public PackageManifestFactory {
 public:
  HttpPackageManifestFactory(std::string manifestHost, HttpRequestFactory* requestFactory,
                             std::int32_t connectTimeout = 10, std::int32_t timeout = 30,
                             std::shared_ptr<const ManifestTrust> trust = nullptr);

  // Create (key, no session).
  std::shared_ptr<PackageManifest> Create(const std::string& key) override;
  bool Matches(const PackageManifest& manifest, const std::string& key) const override;

  // With a session the request is pooled and uses the session's proxy; the
  // session may be empty.
  std::shared_ptr<PackageManifest> Create(const std::string& key,
                                          std::shared_ptr<HttpSession> session) override = 0;
  // The document URL of the key; ManifestLocatorException when none can be
  // formed.
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

// The XML package manifest at /manifests/<key>/current.xml or
// /manifests/<key>.xml, checked against the key after parsing.
class XmlHttpPackageManifestFactory : public HttpPackageManifestFactory {
 public:
  using HttpPackageManifestFactory::Create;
  using HttpPackageManifestFactory::HttpPackageManifestFactory;

  std::shared_ptr<PackageManifest> Create(const std::string& key,
                                          std::shared_ptr<HttpSession> session) override;
  std::string BuildUrl(const std::string& key) const override;
};

}  // namespace velmo
