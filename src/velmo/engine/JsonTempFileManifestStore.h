#pragma once

#include <string>

#include "velmo/engine/JsonTempFileManifestStoreImpl.h"
#include "velmo/engine/TempFileManifestStore.h"

namespace velmo {

class SharedFileFactory;

// The engine's store of transfer manifests: one compact JSON file per key,
// named key + ".json", in `folder` below the temporary folder.
template <typename M>
class JsonTempFileManifestStore : public TempFileManifestStore<M> {
 public:
  JsonTempFileManifestStore(std::string folder, SharedFileFactory* files)
      : impl_(std::move(folder), files) {}

 protected:
  TempFileManifestStoreImpl& GetImpl() override { return impl_; }

 private:
  JsonTempFileManifestStoreImpl impl_;
};

}  // namespace velmo
