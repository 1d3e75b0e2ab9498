#pragma once

#include <memory>

#include "velmo/transfer/TransferWork.h"
#include "velmo/work/LimitedRetrySimpleWork.h"

namespace velmo {

class NodeListManifest;

// Fetches the package manifest (the requested version, or the current one);
// connection trouble is retried in place.
class GetPackageManifestWork : public TransferWork, public LimitedRetrySimpleWork {
 public:
  GetPackageManifestWork(std::uint32_t maxRetries,
                         std::shared_ptr<TransferWorkInterface> workInterface);
  void Describe(boost::property_tree::ptree& out) const override;
  WorkStatus ExecuteTask() override;
  void OnInterrupt() override {}
};

// Fetches the partner's node list; connection trouble is retried in place.
// Every node the list left out as unusable gets a work-log record.
class GetNodeListWork : public TransferWork, public LimitedRetrySimpleWork {
 public:
  GetNodeListWork(std::uint32_t maxRetries, std::shared_ptr<TransferWorkInterface> workInterface);
  void Describe(boost::property_tree::ptree& out) const override;
  WorkStatus ExecuteTask() override;
  void OnInterrupt() override {}

 private:
  void LogDroppedNodes(const NodeListManifest& nodeList);
};

}  // namespace velmo
