#include "velmo/engine/TransferEngine.h"

#include "velmo/engine/UnspecifiedVersion.h"
#include "velmo/manifest/ManifestTrust.h"
#include "velmo/platform/PrivateFolder.h"
#include "velmo/platform/System.h"
#include "velmo/transfer/Transfer.h"
#include "velmo/transfer/TransferWorkInterface.h"

namespace velmo {
namespace {

// The stored transfers and the work log live below the temporary folder,
// which may be shared (TMPDIR=/tmp). A transfer is only made when their
// folders are the user's alone: a stored transfer names where files go, and
// someone who could rewrite it could redirect them.
bool EngineFoldersArePrivate(const EngineSettings& settings) {
  const std::string temp = UserTempFolder();
  try {
    for (const std::string& relative : {settings.transfersFolder, settings.logsFolder}) {
      if (!relative.empty() && relative.front() != '/') MakePrivateFolders(temp, relative);
    }
  } catch (const UnsafeFolderError&) {
    return false;
  }
  return true;
}

// The real layer itself, not owned, when there is no decorator.
template <typename Layer>
std::shared_ptr<Layer> Unowned(Layer& real) {
  return std::shared_ptr<Layer>(std::shared_ptr<Layer>(), &real);
}

}  // namespace

TransferEngine::TransferEngine(const EngineSettings& settings, AnalyticsEndpoints analytics,
                               const LayerDecorators& decorators)
    : proxyFactory_(settings.proxyResolveTimeout, settings.proxyConnectTimeout,
                    settings.proxySendTimeout, settings.proxyReceiveTimeout),
      requestFactory_(proxyFactory_),
      requests_(decorators.requests ? decorators.requests(requestFactory_, proxyFactory_)
                                    : Unowned<HttpRequestFactory>(requestFactory_)),
      files_(decorators.files ? decorators.files(sharedFileFactory_)
                              : Unowned<SharedFileFactory>(sharedFileFactory_)),
      trust_(std::make_shared<ManifestTrust>(settings.trustedKeys)),
      packageManifestFactory_(settings.manifestHost, requests_.get(),
                              settings.manifestConnectTimeout, settings.manifestTimeout, trust_),
      nodeListManifestFactory_(settings.manifestHost, requests_.get(),
                               settings.manifestConnectTimeout, settings.manifestTimeout, trust_),
      manifestStore_(settings.transfersFolder, files_.get()),
      transferFactory_(&manifestStore_, &workflowFactory_),
      transferManager_(&transferFactory_, &manifestStore_),
      optimizer_(settings),
      analytics_(requests_.get(), sessionFactory_.Create(), settings.analyticsConnectTimeout,
                 settings.analyticsTimeout, static_cast<std::int32_t>(settings.analyticsRetryCount),
                 std::move(analytics)),
      workLog_(static_cast<std::uint32_t>(settings.logMask), settings.logsFolder, files_.get()),
      chunkBuffers_(settings.chunkBufferSize, ChunkBufferMemoryFor(settings)),
      // One thread beyond the slots, for the tail request a workflow runs
      // above its bound.
      workManager_(settings.transferThreadCount + 1) {
  behavior_.settings = settings;
  behavior_.sessionFactory = &sessionFactory_;
  behavior_.requestFactory = requests_.get();
  behavior_.sharedFileFactory = files_.get();
  behavior_.packageManifestFactory = &packageManifestFactory_;
  behavior_.nodeListManifestFactory = &nodeListManifestFactory_;
  behavior_.transferManager = &transferManager_;
  behavior_.optimizer = &optimizer_;
  behavior_.analytics = &analytics_;
  behavior_.workLog = &workLog_;
  behavior_.workManager = &workManager_;
  behavior_.chunkBuffers = &chunkBuffers_;
}

TransferEngine::~TransferEngine() {
  // Transfers stop (and report their suspension) while the pool, the work log
  // and the analytics sender still exist.
  transferManager_.Shutdown();
  // The pool's threads end before the transfers and the services they use go.
  workManager_.Join();
}

TransferStatus UnknownTransferStatus(const std::string& transferId, TransferError error) {
  TransferStatus status;
  status.transferId = transferId;
  // The placeholder every identifier of a fresh TransferParams holds.
  status.partnerId = UnspecifiedVersion;
  status.packageId = UnspecifiedVersion;
  status.versionId = UnspecifiedVersion;
  status.destPath = UnspecifiedVersion;
  status.state = TransferState::Invalid;
  status.error = error;
  status.retryable = false;
  status.secondsRemaining = -1;
  return status;
}

TransferStatus TransferEngine::CreateTransfer(const std::string& partnerId,
                                              const std::string& packageId,
                                              const std::string& versionId) {
  if (!EngineFoldersArePrivate(behavior_.settings)) {
    return UnknownTransferStatus(std::string(), TransferError::FileAccessError);
  }
  TransferParams params;
  params.partnerId = partnerId;
  params.packageId = packageId;
  params.versionId = versionId;
  if (std::shared_ptr<Transfer> transfer = transferManager_.Create(params, behavior_)) {
    return transfer->Initialize();
  }
  return UnknownTransferStatus(std::string(), TransferError::UnexpectedError);
}

TransferStatus TransferEngine::StartTransfer(const std::string& transferId,
                                             const std::string& destinationFolder) {
  if (std::shared_ptr<Transfer> transfer = transferManager_.Find(transferId, behavior_)) {
    return transfer->Start(destinationFolder);
  }
  return UnknownTransferStatus(transferId, TransferError::None);
}

TransferStatus TransferEngine::GetTransferStatus(const std::string& transferId) {
  if (std::shared_ptr<Transfer> transfer = transferManager_.Find(transferId, behavior_)) {
    return transfer->GetStatus();
  }
  return UnknownTransferStatus(transferId, TransferError::None);
}

std::shared_ptr<const PackageManifest> TransferEngine::GetPackageManifest(
    const std::string& transferId) {
  if (std::shared_ptr<Transfer> transfer = transferManager_.Find(transferId, behavior_)) {
    // A finished transfer keeps its manifest until it is suspended.
    if (std::shared_ptr<TransferWorkInterface> works = transfer->GetWorkInterface()) {
      return works->GetPackage();
    }
  }
  return nullptr;
}

}  // namespace velmo
