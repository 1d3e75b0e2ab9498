#pragma once

#include "velmo/engine/ManifestStore.h"
#include "velmo/engine/TempFileManifestStoreImpl.h"

namespace velmo {

// A store over files in the temporary folder; the file format is that of the
// implementation a derived class provides.
template <typename M>
class TempFileManifestStore : public ManifestStore<M> {
 public:
  bool Load(const std::string& key, InputManifest& manifest) override {
    try {
      GetImpl().Read(key, manifest);
      return true;
    } catch (...) {
      return false;
    }
  }

  bool Save(const std::string& key, const OutputManifest& manifest) override {
    try {
      GetImpl().Write(key, manifest);
      return true;
    } catch (...) {
      return false;
    }
  }

  bool Remove(const std::string& key) override { return GetImpl().Remove(key); }

 protected:
  virtual TempFileManifestStoreImpl& GetImpl() = 0;
};

}  // namespace velmo
