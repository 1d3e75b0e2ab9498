#pragma once

#include "velmo/manifest/NodeListManifest.h"

namespace velmo {

// The XML node list: root `ArrayOfNodeInfo`, one `NodeInfo` child per node;
// other children (namespace declarations, comments) are ignored. When any
// node has a weight, nodes of weight 0 are dropped; when none has, every node
// weighs 1.
class StandardNodeListManifest : public NodeListManifest {
 public:
  StandardNodeListManifest() = default;

  // ManifestParseException for a missing root, a list without nodes or an
  // invalid node. The list is changed only when the document is valid.
  void Parse(const boost::property_tree::ptree& tree) override;
  NodeManifestList GetNodes() const override { return nodes_; }

 private:
  NodeManifestList nodes_;
};

}  // namespace velmo
