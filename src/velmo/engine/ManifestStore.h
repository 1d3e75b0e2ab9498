#pragma once

#include <string>

#include "velmo/manifest/InputManifest.h"
#include "velmo/manifest/OutputManifest.h"

namespace velmo {

// What a look-up found under a key.
enum class StoredDocument {
  Loaded,       // the manifest was filled from the document
  Absent,       // no document under the key
  Unreadable,   // a document is there but cannot be opened or read (access, the disk)
  Unusable,     // a document is there but is not one the store could have written
  OutOfMemory,  // memory ran out while reading it; nothing says the document is bad
};

// Stored documents of manifests of type M, by key. Every operation answers
// without throwing: a store that cannot be used only means a transfer cannot
// be found again later.
template <typename M>
class ManifestStore {
 public:
  virtual ~ManifestStore() = default;
  // Fills `manifest` from the key's document. On Unreadable and Unusable,
  // `reason` (when given) says what is wrong.
  virtual StoredDocument TryLoad(const std::string& key, InputManifest& manifest,
                                 std::string* reason = nullptr) = 0;
  // Stores a new document for the key; false when anything fails, including
  // an existing document, which stays as it was. A document is either
  // stored whole or not at all, even when the process dies while saving.
  // On failure `reason` (when given) says what failed and why.
  virtual bool Save(const std::string& key, const OutputManifest& manifest,
                    std::string* reason = nullptr) = 0;
  // Deletes the key's document; false when there was none.
  virtual bool Remove(const std::string& key) = 0;
  // Renames the key's document out of the way, keeping it for a person to
  // look at and leaving the key free; `asideName` (when given) receives the
  // new file name. False when there was none or it stays.
  virtual bool SetAside(const std::string& key, std::string* asideName = nullptr) = 0;

  // TryLoad answering whether the manifest was filled.
  bool Load(const std::string& key, InputManifest& manifest) {
    return TryLoad(key, manifest) == StoredDocument::Loaded;
  }
};

}  // namespace velmo
