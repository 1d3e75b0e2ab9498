#pragma once

#include <memory>

#include "velmo/transfer/TransferStatusData.h"
#include "velmo/work/WorkStatus.h"

namespace velmo {

class NodeListManifest;
class PackageManifest;

// What the works of a transfer hand up to it, typed. A WorkStatus carries its
// payload behind the work framework's own base, which knows nothing of
// manifests or transfer errors; the manifest works build their statuses here
// and the transfer's handlers read them here, so the payload types are
// recovered in this one place only.
class TransferOutcome {
 public:
  // Success with the package manifest acquired.
  static WorkStatus PackageAcquired(std::shared_ptr<const PackageManifest> package);
  // Success with the node list acquired.
  static WorkStatus NodeListAcquired(std::shared_ptr<const NodeListManifest> nodeList);

  // The package of a PackageAcquired status; empty for any other payload.
  static std::shared_ptr<const PackageManifest> Package(const WorkStatus& status);
  // The node list of a NodeListAcquired status; empty for any other payload.
  static std::shared_ptr<const NodeListManifest> NodeList(const WorkStatus& status);
  // The failure of an error status: its TransferError and cause. Empty when
  // the payload carries no transfer error (none, or a framework payload).
  static std::shared_ptr<const TransferStatusData> Failure(const WorkStatus& status);
  // The exception of a status the work manager made when one escaped a
  // work's completion chain; empty for any other payload.
  static std::shared_ptr<const WorkExceptionData> EscapedException(const WorkStatus& status);
};

}  // namespace velmo
