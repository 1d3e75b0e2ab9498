#pragma once

#include "velmo/manifest/NodeManifest.h"

namespace velmo {

// A `NodeInfo` entry of the XML node list: NodeId and Host (required), Path
// (default "/packages/", normalized to begin and end with "/") and Weight
// (default 1; a value that does not convert counts as absent, a negative one
// as 0).
class StandardNodeManifest : public NodeManifest {
 public:
  // Parses the node from the tree (ManifestParseException when invalid), with
  // fresh statistics.
  explicit StandardNodeManifest(const boost::property_tree::ptree& tree);
  // Copies id, host, path and weight of `other` and keeps `statistics`.
  StandardNodeManifest(const NodeManifest& other, std::shared_ptr<NodeStatistics> statistics);

  void Parse(const boost::property_tree::ptree& tree) override;
  // Sets "Node" = host, "Path", "Weight", then the statistics' own keys.
  void Write(boost::property_tree::ptree& tree) const override;

  std::string GetNodeId() const override { return nodeId_; }
  std::string GetHost() const override { return host_; }
  std::string GetPath() const override { return path_; }
  std::int32_t GetWeight() const override { return weight_; }
  void ResetWeight() override { weight_ = 1; }
  std::shared_ptr<NodeStatistics> GetStatistics() const override { return statistics_; }
  std::shared_ptr<NodeManifest> WithStatistics(
      std::shared_ptr<NodeStatistics> statistics) const override;

 private:
  std::string nodeId_;
  std::string host_;
  std::string path_ = "/packages/";
  std::int32_t weight_ = 1;
  std::shared_ptr<NodeStatistics> statistics_;
};

}  // namespace velmo
