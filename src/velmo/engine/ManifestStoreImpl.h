#pragma once

#include "velmo/engine/ManifestSink.h"
#include "velmo/manifest/ManifestSource.h"

namespace velmo {

// A place that both reads and writes documents by key.
class ManifestStoreImpl : public ManifestSource, public ManifestSink {
 public:
  ManifestStoreImpl() = default;
  ManifestStoreImpl(const ManifestStoreImpl&) = delete;
  ManifestStoreImpl& operator=(const ManifestStoreImpl&) = delete;
  ~ManifestStoreImpl() override = default;
};

}  // namespace velmo
