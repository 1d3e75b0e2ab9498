#pragma once

#include "velmo/engine/EngineSettings.h"

namespace velmo {

class HttpSessionFactory;
class HttpRequestFactory;
class SharedFileFactory;
class ChunkBufferPool;
class PackageManifestFactory;
class NodeListManifestFactory;
class TransferManager;
class TransferOptimizer;
class EventManager;
class WorkLogManager;
class WorkManager;

// The engine settings and the engine's long-lived services, as every transfer,
// work and event sees them. Copies share the services (owned by the engine,
// which outlives every transfer) and own their settings. Read-only once built,
// so no lock.
class TransferBehavior {
 public:
  TransferBehavior() = default;
  TransferBehavior(const TransferBehavior&) = default;
  TransferBehavior& operator=(const TransferBehavior&) = default;
  virtual ~TransferBehavior() = default;

  EngineSettings settings;
  HttpSessionFactory* sessionFactory = nullptr;
  HttpRequestFactory* requestFactory = nullptr;
  SharedFileFactory* sharedFileFactory = nullptr;
  PackageManifestFactory* packageManifestFactory = nullptr;
  NodeListManifestFactory* nodeListManifestFactory = nullptr;
  TransferManager* transferManager = nullptr;  // filled for completeness; nothing reads it
  TransferOptimizer* optimizer = nullptr;
  EventManager* analytics = nullptr;
  WorkLogManager* workLog = nullptr;
  WorkManager* workManager = nullptr;  // the transfer works' thread pool
  // Where received chunks wait until verified; without one, each request
  // gets a small buffer of its own.
  ChunkBufferPool* chunkBuffers = nullptr;
};

}  // namespace velmo
