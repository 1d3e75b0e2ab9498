#pragma once

#include <memory>

#include "velmo/work/WorkStatus.h"

namespace velmo {

class PackageManifest;
class NodeListManifest;

// The package manifest a fetch work acquired (empty when none).
class PackageStatusData : public WorkStatusData {
 public:
  explicit PackageStatusData(std::shared_ptr<const PackageManifest> package)
      : package_(std::move(package)) {}
  void Describe(boost::property_tree::ptree& out) const override;
  const std::shared_ptr<const PackageManifest>& GetPackage() const { return package_; }

 private:
  std::shared_ptr<const PackageManifest> package_;
};

// The node list a fetch work acquired (empty when none).
class NodeListStatusData : public WorkStatusData {
 public:
  explicit NodeListStatusData(std::shared_ptr<const NodeListManifest> nodeList)
      : nodeList_(std::move(nodeList)) {}
  void Describe(boost::property_tree::ptree& out) const override;
  const std::shared_ptr<const NodeListManifest>& GetNodeList() const { return nodeList_; }

 private:
  std::shared_ptr<const NodeListManifest> nodeList_;
};

}  // namespace velmo
