#pragma once

#include <memory>
#include <string>

#include "velmo/manifest/NodeListManifest.h"

namespace velmo {

class HttpSession;

// Fetches the node list of a partner (the key is the partner id).
class NodeListManifestFactory {
 public:
  virtual ~NodeListManifestFactory() = default;
  virtual std::shared_ptr<NodeListManifest> Create(const std::string& key) = 0;
  // The same within a transfer's session, whose pooled connection a factory
  // that fetches over HTTP reuses; others ignore the session. By value: the
  // HTTP factories keep it in the request they make.
  virtual std::shared_ptr<NodeListManifest> Create(
      const std::string& key,
      std::shared_ptr<HttpSession> /*session*/) {  // NOLINT(performance-unnecessary-value-param)
    return Create(key);
  }
  // Where the node list of the key comes from, for error messages; empty when
  // the factory has no address to name. May throw ManifestLocatorException.
  virtual std::string Location(const std::string& /*key*/) const { return std::string(); }
};

}  // namespace velmo
