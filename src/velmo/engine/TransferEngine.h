#pragma once

#include <functional>
#include <memory>
#include <string>

#include "velmo/engine/EngineSettings.h"
#include "velmo/engine/JsonTempFileManifestStore.h"
#include "velmo/engine/StoredTransferFactory.h"
#include "velmo/engine/TempFileTransferManager.h"
#include "velmo/engine/TransferBehavior.h"
#include "velmo/engine/TransferFacade.h"
#include "velmo/engine/TransferManifest.h"
#include "velmo/file/ChunkBufferPool.h"
#include "velmo/file/PosixSharedFileFactory.h"
#include "velmo/http/CurlHttpRequestFactory.h"
#include "velmo/http/RoundRobinHttpSessionFactory.h"
#include "velmo/http/SystemHttpProxyFactory.h"
#include "velmo/manifest/HttpNodeListManifestFactory.h"
#include "velmo/manifest/HttpPackageManifestFactory.h"
#include "velmo/optimizer/ProportionalGamblingTransferOptimizer.h"
#include "velmo/telemetry/JsonHttpAnalyticsManager.h"
#include "velmo/telemetry/JsonWorkLogManager.h"
#include "velmo/transfer/StandardTransferWorkflowFactory.h"
#include "velmo/transfer/TransferStatus.h"
#include "velmo/transfer/TransferStatusSource.h"
#include "velmo/work/AsioWorkManager.h"

namespace velmo {

// Decorators put around the engine's file and HTTP layers. The engine builds
// its real layers itself, so a test that must make the Nth file operation or
// request fail has no other way in; each function, when set, is called once
// during construction with the engine's own layer and what it returns is used
// everywhere in that layer's place (transfers, the stored transfers, the work
// log, the manifest fetches, the analytics). Unset, the real layer is used.
struct LayerDecorators {
  std::function<std::shared_ptr<SharedFileFactory>(SharedFileFactory& real)> files;
  // `proxies` is the engine's proxy discovery, for the decorator's own base.
  std::function<std::shared_ptr<HttpRequestFactory>(HttpRequestFactory& real,
                                                    HttpProxyFactory& proxies)>
      requests;
};

// The engine's composition root: builds every long-lived service from one
// settings record, wires them, and tears them down in reverse order after
// suspending every transfer. The application talks to it through the facade.
//
// Threads: constructed and destroyed on the program's main thread while no
// facade call runs; the facade operations may be called from several threads
// at once (the manager and each transfer lock for themselves).
class TransferEngine : public TransferFacade {
 public:
  explicit TransferEngine(const EngineSettings& settings,
                          AnalyticsEndpoints analytics = AnalyticsEndpoints::BuiltIn(),
                          const LayerDecorators& decorators = LayerDecorators());
  ~TransferEngine() override;
  TransferEngine(const TransferEngine&) = delete;
  TransferEngine& operator=(const TransferEngine&) = delete;

  TransferStatus CreateTransfer(const std::string& partnerId, const std::string& packageId,
                                const std::string& versionId) override;
  TransferStatus StartTransfer(const std::string& transferId,
                               const std::string& destinationFolder) override;
  TransferStatus GetTransferStatus(const std::string& transferId) override;
  std::shared_ptr<const PackageManifest> GetPackageManifest(const std::string& transferId) override;

  const TransferBehavior& GetBehavior() const { return behavior_; }
  TransferManager& GetTransferManager() { return transferManager_; }

 private:
  // Declaration order is construction order; destruction runs backwards.
  RoundRobinHttpSessionFactory sessionFactory_;
  SystemHttpProxyFactory proxyFactory_;
  CurlHttpRequestFactory requestFactory_;
  PosixSharedFileFactory sharedFileFactory_;
  // The layers every service below uses: the real ones above, or their
  // decorators (see LayerDecorators).
  std::shared_ptr<HttpRequestFactory> requests_;
  std::shared_ptr<SharedFileFactory> files_;
  // Every manifest fetch, first or after a restore, is checked against it:
  // stored transfers keep only identifiers, never trust.
  std::shared_ptr<const ManifestTrust> trust_;
  XmlHttpPackageManifestFactory packageManifestFactory_;
  XmlHttpNodeListManifestFactory nodeListManifestFactory_;
  StandardTransferWorkflowFactory workflowFactory_;
  JsonTempFileManifestStore<TransferManifest> manifestStore_;
  StoredTransferFactory transferFactory_;
  TempFileTransferManager transferManager_;
  ProportionalGamblingTransferOptimizer optimizer_;
  JsonHttpAnalyticsManager analytics_;
  JsonWorkLogManager workLog_;
  ChunkBufferPool chunkBuffers_;
  AsioWorkManager workManager_;
  TransferBehavior behavior_;
};

// The snapshot of an id the engine does not know.
TransferStatus UnknownTransferStatus(const std::string& transferId, TransferError error);

}  // namespace velmo
