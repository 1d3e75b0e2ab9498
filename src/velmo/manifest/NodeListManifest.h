#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "velmo/manifest/InputManifest.h"
#include "velmo/manifest/NodeManifest.h"

namespace velmo {

using NodeManifestList = std::vector<std::shared_ptr<NodeManifest>>;

// The download nodes of a partner's packages, in document order.
class NodeListManifest : public InputManifest {
 public:
  ~NodeListManifest() override = default;
  void Parse(const boost::property_tree::ptree& tree) override = 0;
  virtual NodeManifestList GetNodes() const = 0;

  // Sum of the weights, accumulated as unsigned 32-bit (so it wraps).
  std::uint32_t GetTotalWeight() const;
};

}  // namespace velmo
