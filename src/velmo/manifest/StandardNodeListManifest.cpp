#include "velmo/manifest/StandardNodeListManifest.h"

#include <algorithm>
#include <stdexcept>

#include "velmo/manifest/ManifestExceptions.h"
#include "velmo/manifest/ManifestLocations.h"
#include "velmo/manifest/StandardNodeManifest.h"

namespace velmo {

std::string StandardNodeListManifest::UnusableNodeReason(const std::string& host,
                                                         const std::string& path) {
  // "https://" (or "http://") before the host says how to reach the node.
  const HostAddress address = SplitHostScheme(host);
  if (address.authority.empty()) return "the host is empty";
  // The URI reader would quietly cut the host at some of these and send the
  // request somewhere else than the document says; bytes outside printable
  // ASCII are in no host name (international names are written in their
  // ASCII form).
  for (const char c : address.authority) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F || c == '/' || c == '?' || c == '#' || c == '@' || c == '\\') {
      return "the host holds a character no host name has";
    }
  }
  // Request URLs are built the same way for every chunk: what fails here
  // would fail every request drawn for the node.
  try {
    ComposeNodeFileUrl(host, path, {"partner/", "package/", "1/", "file"});
  } catch (const std::invalid_argument& e) {
    return e.what();
  }
  return std::string();
}

void StandardNodeListManifest::Parse(const boost::property_tree::ptree& tree) {
  const auto root = tree.find("ArrayOfNodeInfo");
  if (root == tree.not_found()) {
    throw ManifestParseException("document has no ArrayOfNodeInfo element");
  }
  NodeManifestList nodes;
  std::vector<DroppedNode> dropped;
  for (const auto& child : root->second) {
    if (child.first != "NodeInfo") continue;
    auto node = std::make_shared<StandardNodeManifest>(child.second);
    std::string reason = UnusableNodeReason(node->GetHost(), node->GetPath());
    if (reason.empty()) {
      nodes.push_back(std::move(node));
    } else {
      dropped.push_back(DroppedNode{node->GetNodeId(), node->GetHost(), std::move(reason)});
    }
  }
  if (nodes.empty()) {
    throw ManifestParseException(dropped.empty() ? "node list has no nodes"
                                                 : "node list has no usable nodes");
  }
  // "Some node has a weight" rather than "the 32-bit sum is not 0": large
  // weights can wrap the sum to exactly 0.
  const bool anyWeight = std::any_of(nodes.begin(), nodes.end(),
                                     [](const auto& node) { return node->GetWeight() != 0; });
  if (anyWeight) {
    nodes.erase(std::remove_if(nodes.begin(), nodes.end(),
                               [](const auto& node) { return node->GetWeight() == 0; }),
                nodes.end());
  } else {
    for (const auto& node : nodes) {
      node->ResetWeight();
    }
  }
  nodes_ = std::move(nodes);
  dropped_ = std::move(dropped);
}

}  // namespace velmo
