#include "velmo/transfer/TransferOutcome.h"

#include "velmo/transfer/works/PackageStatusData.h"

namespace velmo {

namespace {

// The one type test of payloads. The payload bases are inherited virtually,
// which leaves a checked cast as the only way down.
template <class Payload>
std::shared_ptr<const Payload> PayloadAs(const WorkStatus& status) {
  return std::dynamic_pointer_cast<const Payload>(status.data);
}

}  // namespace

WorkStatus TransferOutcome::PackageAcquired(std::shared_ptr<const PackageManifest> package) {
  return WorkStatus(WorkResult::Success, std::make_shared<PackageStatusData>(std::move(package)));
}

WorkStatus TransferOutcome::NodeListAcquired(std::shared_ptr<const NodeListManifest> nodeList) {
  return WorkStatus(WorkResult::Success, std::make_shared<NodeListStatusData>(std::move(nodeList)));
}

std::shared_ptr<const PackageManifest> TransferOutcome::Package(const WorkStatus& status) {
  const auto payload = PayloadAs<PackageStatusData>(status);
  return payload ? payload->GetPackage() : nullptr;
}

std::shared_ptr<const NodeListManifest> TransferOutcome::NodeList(const WorkStatus& status) {
  const auto payload = PayloadAs<NodeListStatusData>(status);
  return payload ? payload->GetNodeList() : nullptr;
}

std::shared_ptr<const TransferStatusData> TransferOutcome::Failure(const WorkStatus& status) {
  return PayloadAs<TransferStatusData>(status);
}

std::shared_ptr<const WorkExceptionData> TransferOutcome::EscapedException(
    const WorkStatus& status) {
  return PayloadAs<WorkExceptionData>(status);
}

}  // namespace velmo
