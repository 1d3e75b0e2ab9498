#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "velmo/manifest/InputManifest.h"
#include "velmo/manifest/NodeManifest.h"

namespace velmo {

using NodeManifestList = std::vector<std::shared_ptr<NodeManifest>>;

// A node a list names but that no request could ever reach, and why.
struct DroppedNode {
  std::string nodeId;
  std::string host;
  std::string reason;
};

// The download nodes of a partner's packages, in document order.
class NodeListManifest : public InputManifest {
 public:
  ~NodeListManifest() override = default;
  void Parse(const boost::property_tree::ptree& tree) override = 0;
  virtual NodeManifestList GetNodes() const = 0;
  // The nodes the document named but the list left out as unusable.
  virtual std::vector<DroppedNode> GetDroppedNodes() const { return {}; }

  // Sum of the weights, accumulated as unsigned 32-bit (so it wraps).
  std::uint32_t GetTotalWeight() const;
};

}  // namespace velmo
