#include "velmo/manifest/StandardNodeListManifest.h"

#include <algorithm>

#include "velmo/manifest/ManifestExceptions.h"
#include "velmo/manifest/StandardNodeManifest.h"

namespace velmo {

void StandardNodeListManifest::Parse(const boost::property_tree::ptree& tree) {
  const auto root = tree.find("ArrayOfNodeInfo");
  if (root == tree.not_found()) {
    throw ManifestParseException("document has no ArrayOfNodeInfo element");
  }
  NodeManifestList nodes;
  for (const auto& child : root->second) {
    if (child.first == "NodeInfo") {
      nodes.push_back(std::make_shared<StandardNodeManifest>(child.second));
    }
  }
  if (nodes.empty()) {
    throw ManifestParseException("node list has no nodes");
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
}

}  // namespace velmo
