#pragma once

#include "velmo/manifest/NodeListManifest.h"

namespace velmo {

// The XML node list: root `ArrayOfNodeInfo`, one `NodeInfo` child per node;
// other children (namespace declarations, comments) are ignored. A node whose
// Host and Path cannot be made into a request URL (a port that is no number or
// out of range, characters that would end the authority or are in no host
// name, a broken escape in the path) is dropped and reported by
// GetDroppedNodes: one bad address must not end a download the other nodes
// can serve. When any remaining node has a weight, nodes of weight 0 are
// dropped; when none has, every node weighs 1.
class StandardNodeListManifest : public NodeListManifest {
 public:
  StandardNodeListManifest() = default;

  // ManifestParseException for a missing root, a list without usable nodes
  // or an invalid node. The list is changed only when the document is valid.
  void Parse(const boost::property_tree::ptree& tree) override;
  NodeManifestList GetNodes() const override { return nodes_; }
  std::vector<DroppedNode> GetDroppedNodes() const override { return dropped_; }

  // Why a node with this Host ("HOST[:PORT]", or with "http://" or
  // "https://" before it) and Path cannot be sent requests, or empty when it
  // can.
  static std::string UnusableNodeReason(const std::string& host, const std::string& path);

 private:
  NodeManifestList nodes_;
  std::vector<DroppedNode> dropped_;
};

}  // namespace velmo
