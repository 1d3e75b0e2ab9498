// The top of a transfer's tree: the root, the initialization phase with the
// two manifest fetches, the building of the file tree and the final step that
// lets the programs run.
#include <limits>
#include <random>

#include "velmo/engine/RetryDelay.h"
#include "velmo/engine/UnspecifiedVersion.h"
#include "velmo/file/FileException.h"
#include "velmo/file/SharedFile.h"
#include "velmo/file/SharedFileFactory.h"
#include "velmo/manifest/ManifestExceptions.h"
#include "velmo/manifest/NodeListManifestFactory.h"
#include "velmo/manifest/PackageKey.h"
#include "velmo/manifest/PackageManifest.h"
#include "velmo/manifest/PackageManifestFactory.h"
#include "velmo/platform/System.h"
#include "velmo/telemetry/LogLevel.h"
#include "velmo/telemetry/TrackEventWork.h"
#include "velmo/telemetry/WorkLogManager.h"
#include "velmo/transfer/TransferErrorData.h"
#include "velmo/transfer/TransferExceptionData.h"
#include "velmo/transfer/TransferFailureStatus.h"
#include "velmo/transfer/TransferOutcome.h"
#include "velmo/transfer/works/AllowExecuteWork.h"
#include "velmo/transfer/works/ConstructTransferFromPackageWork.h"
#include "velmo/transfer/works/GetManifestsWork.h"
#include "velmo/transfer/works/GetPackageManifestWork.h"
#include "velmo/transfer/works/InitializeTransferWork.h"
#include "velmo/transfer/works/OpenAndAllocateFileWork.h"
#include "velmo/transfer/works/TransferMultipleFilesWork.h"
#include "velmo/transfer/works/TransferPackageWork.h"
#include "velmo/transfer/works/TransferWorkSupport.h"
#include "velmo/work/DeferredWork.h"

namespace velmo {

TransferPackageWork::TransferPackageWork(std::shared_ptr<TransferWorkInterface> workInterface)
    : TransferWork(std::move(workInterface)), SequentialWork(nullptr, 3) {
  AddCompleteCallback(this->workInterface_->GetWorkCompleteCallback());
  ObserveByWorkLog(*this, *this->workInterface_);
}

std::shared_ptr<TransferPackageWork> TransferPackageWork::Create(
    const std::shared_ptr<TransferWorkInterface>& workInterface) {
  auto work = std::make_shared<TransferPackageWork>(workInterface);
  auto files = std::make_shared<DeferredWork>();
  ObserveByWorkLog(*files, *workInterface);
  work->AddChild(InitializeTransferWork::Create(workInterface, files));
  work->AddChild(files);
  work->AddChild(std::make_shared<AllowExecuteWork>(workInterface));
  return work;
}

void TransferPackageWork::Describe(boost::property_tree::ptree& out) const {
  DescribeTransferWork(out, "TransferPackageWork", true, *this, false);
}

// ---------------------------------------------------------------------------

InitializeTransferWork::InitializeTransferWork(std::shared_ptr<TransferWorkInterface> workInterface)
    : TransferWork(std::move(workInterface)), SequentialWork(nullptr, 2) {
  AddCompleteCallback(this->workInterface_->GetInitializeCallback());
  ObserveByWorkLog(*this, *this->workInterface_);
}

std::shared_ptr<InitializeTransferWork> InitializeTransferWork::Create(
    const std::shared_ptr<TransferWorkInterface>& workInterface,
    const std::shared_ptr<DeferredWork>& files) {
  auto work = std::make_shared<InitializeTransferWork>(workInterface);
  work->AddChild(GetManifestsWork::Create(workInterface));
  work->AddChild(std::make_shared<ConstructTransferFromPackageWork>(workInterface, files));
  return work;
}

void InitializeTransferWork::Describe(boost::property_tree::ptree& out) const {
  DescribeTransferWork(out, "InitializeTransferWork", false, *this, false);
}

// ---------------------------------------------------------------------------

GetManifestsWork::GetManifestsWork(std::shared_ptr<TransferWorkInterface> workInterface)
    : TransferWork(std::move(workInterface)) {
  ObserveByWorkLog(*this, *this->workInterface_);
}

std::shared_ptr<GetManifestsWork> GetManifestsWork::Create(
    const std::shared_ptr<TransferWorkInterface>& workInterface) {
  auto work = std::make_shared<GetManifestsWork>(workInterface);
  const std::uint32_t retries = workInterface->GetBehavior().settings.manifestRetryCount;
  work->Reserve(2);
  work->AddChild(std::make_shared<GetPackageManifestWork>(retries, workInterface));
  work->AddChild(std::make_shared<GetNodeListWork>(retries, workInterface));
  return work;
}

void GetManifestsWork::Describe(boost::property_tree::ptree& out) const {
  DescribeTransferWork(out, "GetManifestsWork", false, *this, false);
}

// ---------------------------------------------------------------------------

std::chrono::milliseconds ManifestRetryDelay(const TransferBehavior& behavior,
                                             std::uint32_t failures, const WorkStatus& status) {
  std::int32_t retryAfter = -1;
  const auto* data = dynamic_cast<const WorkExceptionData*>(status.data.get());
  if (data && data->GetException()) {
    try {
      std::rethrow_exception(data->GetException());
    } catch (const ManifestStreamException& e) {
      retryAfter = e.RetryAfter();
    } catch (...) {
    }
  }
  // The two manifest fetches run on different threads; each draws its own
  // jitter.
  thread_local std::minstd_rand random(std::random_device{}());
  const double unit = std::uniform_real_distribution<double>(0.0, 1.0)(random);
  return RetryDelay(behavior.settings, failures, retryAfter, unit);
}

GetPackageManifestWork::GetPackageManifestWork(std::uint32_t maxRetries,
                                               std::shared_ptr<TransferWorkInterface> workInterface)
    : TransferWork(std::move(workInterface)), LimitedRetrySimpleWork(maxRetries) {
  AddCompleteCallback(this->workInterface_->GetPackageAcquireCallback());
  ObserveByWorkLog(*this, *this->workInterface_);
  ObserveRetriesByWorkLog(*this, *this->workInterface_);
}

void GetPackageManifestWork::Describe(boost::property_tree::ptree& out) const {
  DescribeTransferWork(out, "GetPackageManifestWork", true, *this, false);
}

WorkStatus GetPackageManifestWork::ExecuteTask() {
  std::string url;
  try {
    const TransferParams params = workInterface_->GetParams();
    const std::string version =
        params.versionId == UnspecifiedVersion ? std::string() : params.versionId;
    const std::string key = MakePackageKey(params.packageId, version);
    PackageManifestFactory& factory = *workInterface_->GetBehavior().packageManifestFactory;
    url = factory.Location(key);
    // The transfer's session keeps the manifest host's connection open.
    return TransferOutcome::PackageAcquired(factory.Create(key, workInterface_->GetSession()));
  } catch (...) {
    return ManifestFailureStatus(url.empty() ? "package manifest" : "package manifest " + url);
  }
}

std::chrono::milliseconds GetPackageManifestWork::RetryDelay(const WorkStatus& status) {
  return ManifestRetryDelay(workInterface_->GetBehavior(), Retries(), status);
}

GetNodeListWork::GetNodeListWork(std::uint32_t maxRetries,
                                 std::shared_ptr<TransferWorkInterface> workInterface)
    : TransferWork(std::move(workInterface)), LimitedRetrySimpleWork(maxRetries) {
  AddCompleteCallback(this->workInterface_->GetNodeListAcquireCallback());
  ObserveByWorkLog(*this, *this->workInterface_);
  ObserveRetriesByWorkLog(*this, *this->workInterface_);
}

void GetNodeListWork::Describe(boost::property_tree::ptree& out) const {
  DescribeTransferWork(out, "GetNodeListWork", true, *this, false);
}

WorkStatus GetNodeListWork::ExecuteTask() {
  std::string url;
  try {
    const TransferParams params = workInterface_->GetParams();
    NodeListManifestFactory& factory = *workInterface_->GetBehavior().nodeListManifestFactory;
    url = factory.Location(params.partnerId);
    const std::shared_ptr<NodeListManifest> nodeList =
        factory.Create(params.partnerId, workInterface_->GetSession());
    LogDroppedNodes(*nodeList);
    return TransferOutcome::NodeListAcquired(nodeList);
  } catch (...) {
    return ManifestFailureStatus(url.empty() ? "node list" : "node list " + url);
  }
}

std::chrono::milliseconds GetNodeListWork::RetryDelay(const WorkStatus& status) {
  return ManifestRetryDelay(workInterface_->GetBehavior(), Retries(), status);
}

void GetNodeListWork::LogDroppedNodes(const NodeListManifest& nodeList) {
  WorkLogManager* log = workInterface_->GetBehavior().workLog;
  if (log == nullptr) return;
  using boost::property_tree::ptree;
  for (const DroppedNode& node : nodeList.GetDroppedNodes()) {
    std::shared_ptr<TrackEventWork> work = log->CreateEvent(kLogWorkFailure | kLogImportant);
    ptree& tree = work->GetTree();
    tree.push_back(ptree::value_type("event", ptree("NodeDropped")));
    tree.push_back(ptree::value_type("partnerId", ptree(workInterface_->GetParams().partnerId)));
    tree.push_back(ptree::value_type("nodeId", ptree(node.nodeId)));
    tree.push_back(ptree::value_type("host", ptree(node.host)));
    tree.push_back(ptree::value_type("reason", ptree(node.reason)));
    log->Submit(std::move(work));
  }
}

// ---------------------------------------------------------------------------

ConstructTransferFromPackageWork::ConstructTransferFromPackageWork(
    std::shared_ptr<TransferWorkInterface> workInterface, std::shared_ptr<DeferredWork> files)
    : TransferWork(std::move(workInterface)), files_(std::move(files)) {
  ObserveByWorkLog(*this, *this->workInterface_);
}

void ConstructTransferFromPackageWork::Describe(boost::property_tree::ptree& out) const {
  DescribeTransferWork(out, "ConstructTransferFromPackageWork", false, *this, false);
}

WorkStatus ConstructTransferFromPackageWork::ExecuteTask() {
  try {
    if (!files_->Assign(TransferMultipleFilesWork::Create(workInterface_))) {
      return WorkStatus(WorkResult::Fatal,
                        MakeTransferErrorData(TransferError::UnexpectedError,
                                              "ConstructTransferFromPackageWork::ExecuteTask "
                                              "failed; DeferredWork already assigned"));
    }
    return WorkStatus(WorkResult::Success, nullptr);
  } catch (...) {
    return WorkStatus(WorkResult::Fatal, MakeTransferExceptionData(TransferError::UnexpectedError));
  }
}

// ---------------------------------------------------------------------------

AllowExecuteWork::AllowExecuteWork(std::shared_ptr<TransferWorkInterface> workInterface)
    : TransferWork(std::move(workInterface)) {
  ObserveByWorkLog(*this, *this->workInterface_);
}

void AllowExecuteWork::Describe(boost::property_tree::ptree& out) const {
  DescribeTransferWork(out, "AllowExecuteWork", true, *this, true);
}

WorkStatus AllowExecuteWork::ExecuteTask() {
  std::string program;
  try {
    const auto package = workInterface_->GetPackage();
    if (!package) {
      return WorkStatus(WorkResult::Fatal,
                        MakeTransferErrorData(TransferError::UnexpectedError,
                                              "AllowExecuteWork::ExecuteTask has no package"));
    }
    SharedFileFactory& files = *workInterface_->GetBehavior().sharedFileFactory;
    const std::string folder = workInterface_->GetParamsRef().destPath;
    // "Complete" means every path names the file that was written and
    // checked: one deleted, moved, or swapped for another file, a folder or a
    // link while the transfer ran is an error naming the path.
    for (const auto& file : package->GetFiles()) {
      const auto written = workInterface_->RecordedFileIdentity(file->GetPath());
      if (written && files.PathIdentity(folder, file->GetPath()) != written) {
        program = JoinPath(folder, file->GetPath());
        throw FileReplacedException();
      }
    }
    for (const auto& file : package->GetFiles()) {
      if (!IsProgramFile(*workInterface_, file->GetPath())) continue;
      auto shared = files.OpenFile(folder, file->GetPath(), FileOpenMode::OpenExisting, 0,
                                   std::numeric_limits<std::uint64_t>::max());
      program = JoinPath(folder, file->GetPath());
      if (!shared->AllowExecute()) throw FileInUseException();
    }
    return WorkStatus(WorkResult::Success, nullptr);
  } catch (...) {
    return FileFailureStatus(program);
  }
}

}  // namespace velmo
