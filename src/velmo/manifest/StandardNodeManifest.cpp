#include "velmo/manifest/StandardNodeManifest.h"

#include "velmo/manifest/ManifestExceptions.h"
#include "velmo/manifest/ManifestFields.h"
#include "velmo/optimizer/NodeStatistics.h"

namespace velmo {

StandardNodeManifest::StandardNodeManifest(const boost::property_tree::ptree& tree)
    : statistics_(std::make_shared<NodeStatistics>()) {
  Parse(tree);
}

StandardNodeManifest::StandardNodeManifest(const NodeManifest& other,
                                           std::shared_ptr<NodeStatistics> statistics)
    : nodeId_(other.GetNodeId()),
      host_(other.GetHost()),
      path_(other.GetPath()),
      weight_(other.GetWeight()),
      statistics_(std::move(statistics)) {}

void StandardNodeManifest::Parse(const boost::property_tree::ptree& tree) {
  std::string nodeId = RequiredField(tree, "NodeId");
  std::string host = RequiredField(tree, "Host");
  std::string path = OptionalField(tree, "Path").value_or("/packages/");
  std::int32_t weight = 1;
  const auto weightNode = tree.find("Weight");
  if (weightNode != tree.not_found()) {
    weight = weightNode->second.get_value_optional<std::int32_t>().value_or(1);
  }
  // The optimizer draws by weight taken as unsigned, where a negative weight
  // would act as an enormous one and take nearly every request; a node that
  // asks for less than nothing gets nothing.
  if (weight < 0) {
    weight = 0;
  }
  if (path.empty() || path.front() != '/') {
    path.insert(path.begin(), '/');
  }
  if (path.back() != '/') {
    path.push_back('/');
  }
  // An empty host is judged with the other unusable hosts by the node list,
  // which drops that node and keeps the rest.
  if (nodeId.empty()) {
    throw ManifestParseException("node has an empty NodeId");
  }
  nodeId_ = std::move(nodeId);
  host_ = std::move(host);
  path_ = std::move(path);
  weight_ = weight;
}

void StandardNodeManifest::Write(boost::property_tree::ptree& tree) const {
  tree.put("Node", host_);
  tree.put("Path", path_);
  tree.put("Weight", weight_);
  if (statistics_) {
    statistics_->Write(tree);
  }
}

std::shared_ptr<NodeManifest> StandardNodeManifest::WithStatistics(
    std::shared_ptr<NodeStatistics> statistics) const {
  return std::make_shared<StandardNodeManifest>(*this, std::move(statistics));
}

}  // namespace velmo
