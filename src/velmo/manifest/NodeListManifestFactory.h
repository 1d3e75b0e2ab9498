#pragma once

#include <memory>
#include <string>

#include "velmo/manifest/NodeListManifest.h"

namespace velmo {

// Fetches the node list of a partner (the key is the partner id).
class NodeListManifestFactory {
 public:
  virtual ~NodeListManifestFactory() = default;
  virtual std::shared_ptr<NodeListManifest> Create(const std::string& key) = 0;
};

}  // namespace velmo
