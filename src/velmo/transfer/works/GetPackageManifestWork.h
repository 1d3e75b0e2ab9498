#pragma once

#include <chrono>
#include <memory>

#include "velmo/transfer/TransferWork.h"
#include "velmo/work/LimitedRetrySimpleWork.h"

namespace velmo {

class NodeListManifest;
class TransferBehavior;

// The wait before the manifest host is asked again, after `failures` failed
// fetches ending in `status`: the engine's backoff, lengthened by the
// Retry-After of a busy host.
std::chrono::milliseconds ManifestRetryDelay(const TransferBehavior& behavior,
                                             std::uint32_t failures, const WorkStatus& status);

// Fetches the package manifest (the requested version, or the current one);
// connection trouble is retried in place, after a wait that grows with each
// failure and honours a busy host's Retry-After (ManifestRetryDelay).
class GetPackageManifestWork : public TransferWork, public LimitedRetrySimpleWork {
 public:
  GetPackageManifestWork(std::uint32_t maxRetries,
                         std::shared_ptr<TransferWorkInterface> workInterface);
  void Describe(boost::property_tree::ptree& out) const override;
  WorkStatus ExecuteTask() override;
  void OnInterrupt() override {}

 protected:
  std::chrono::milliseconds RetryDelay(const WorkStatus& status) override;
};

// Fetches the partner's node list; connection trouble is retried in place,
// after the same waits as the package manifest's.
// Every node the list left out as unusable gets a work-log record.
class GetNodeListWork : public TransferWork, public LimitedRetrySimpleWork {
 public:
  GetNodeListWork(std::uint32_t maxRetries, std::shared_ptr<TransferWorkInterface> workInterface);
  void Describe(boost::property_tree::ptree& out) const override;
  WorkStatus ExecuteTask() override;
  void OnInterrupt() override {}

 protected:
  std::chrono::milliseconds RetryDelay(const WorkStatus& status) override;

 private:
  void LogDroppedNodes(const NodeListManifest& nodeList);
};

}  // namespace velmo
