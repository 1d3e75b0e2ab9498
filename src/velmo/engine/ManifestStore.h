#pragma once

#include <string>

#include "velmo/manifest/InputManifest.h"
#include "velmo/manifest/OutputManifest.h"

namespace velmo {

// Stored documents of manifests of type M, by key. Every operation answers
// with a bool and never throws: a store that cannot be used only means a
// transfer cannot be found again later.
template <typename M>
class ManifestStore {
 public:
  virtual ~ManifestStore() = default;
  // Fills `manifest` from the key's document; false when anything fails.
  virtual bool Load(const std::string& key, InputManifest& manifest) = 0;
  // Stores a new document for the key; false when anything fails, including
  // an existing document, which stays as it was.
  virtual bool Save(const std::string& key, const OutputManifest& manifest) = 0;
  // Deletes the key's document; false when there was none.
  virtual bool Remove(const std::string& key) = 0;
};

}  // namespace velmo
