#pragma once

#include <exception>
#include <new>
#include <string>

#include "velmo/engine/ManifestStore.h"
#include "velmo/engine/TempFileManifestStoreImpl.h"
#include "velmo/manifest/ManifestExceptions.h"

namespace velmo {

// A store over files in the temporary folder; the file format is that of the
// implementation a derived class provides.
template <typename M>
class TempFileManifestStore : public ManifestStore<M> {
 public:
  StoredDocument TryLoad(const std::string& key, InputManifest& manifest,
                         std::string* reason = nullptr) override {
    try {
      GetImpl().Read(key, manifest);
      return StoredDocument::Loaded;
    } catch (const std::bad_alloc&) {
      if (reason != nullptr) *reason = "out of memory";
      return StoredDocument::OutOfMemory;
    } catch (const ManifestParseException& e) {
      // The file opened and was read whole: its content is what is wrong.
      if (reason != nullptr) *reason = e.what();
      return StoredDocument::Unusable;
    } catch (const std::exception& e) {
      // A document that is there but cannot be opened or read (no access, a
      // folder someone else controls, the disk failing) is not the same as
      // none: whoever asked must hear why, rather than that nothing is stored.
      if (!GetImpl().Exists(key)) return StoredDocument::Absent;
      if (reason != nullptr) *reason = e.what();
      return StoredDocument::Unreadable;
    } catch (...) {
      return GetImpl().Exists(key) ? StoredDocument::Unreadable : StoredDocument::Absent;
    }
  }

  bool Save(const std::string& key, const OutputManifest& manifest,
            std::string* reason = nullptr) override {
    try {
      GetImpl().Write(key, manifest);
      return true;
    } catch (const std::exception& e) {
      if (reason != nullptr) *reason = e.what();
      return false;
    } catch (...) {
      if (reason != nullptr) *reason = "cannot store the document of " + key;
      return false;
    }
  }

  bool Remove(const std::string& key) override { return GetImpl().Remove(key); }

  bool SetAside(const std::string& key, std::string* asideName = nullptr) override {
    return GetImpl().SetAside(key, asideName);
  }

 protected:
  virtual TempFileManifestStoreImpl& GetImpl() = 0;
};

}  // namespace velmo
