#include "velmo/manifest/StandardNodeListManifest.h"

#include <Poco/Exception.h>
#include <Poco/URI.h>

#include <algorithm>

#include "velmo/manifest/ManifestExceptions.h"
#include "velmo/manifest/ManifestLocations.h"
#include "velmo/manifest/StandardNodeManifest.h"

namespace velmo {

std::string StandardNodeListManifest::UnusableHostReason(const std::string& node) {
  // "https://" (or "http://") before the host says how to reach the node.
  const HostAddress address = SplitHostScheme(node);
  const std::string& host = address.authority;
  // The URI reader would quietly cut the host at these and send the request
  // somewhere else than the document says.
  for (const char c : host) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7F || c == '/' || c == '?' || c == '#' || c == '@' || c == '\\') {
      return "the host holds a character no host name has";
    }
  }
  // Request URLs are built from the host the same way: what fails here would
  // fail every request drawn for the node.
  try {
    Poco::URI uri(address.scheme, host, "/");
    if (uri.getHost().empty()) return "the host names no machine";
  } catch (const Poco::Exception& e) {
    return e.displayText();
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
    std::string reason = UnusableHostReason(node->GetHost());
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
