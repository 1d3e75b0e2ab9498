#pragma once

#include "velmo/engine/TempFileManifestStoreImpl.h"

namespace velmo {

// Stored documents as compact JSON, one object on one line and a line feed,
// in UTF-8. Strings escape the quotation mark, backslash and solidus, the five
// named control characters as \b \f \n \r \t, every other control character
// and every character above U+00FF as \uXXXX (uppercase, UTF-16 code units, so
// a character outside the basic plane is two escapes); U+0020 to U+00FF are
// written as themselves. Reading accepts any well-formed JSON in UTF-8.
class JsonTempFileManifestStoreImpl : public TempFileManifestStoreImpl {
 public:
  using TempFileManifestStoreImpl::TempFileManifestStoreImpl;

  // ManifestParseException for text that is not UTF-8 or not JSON.
  void Parse(std::istream& stream, boost::property_tree::ptree& tree) override;
  // ManifestParseException for a tree that is not UTF-8 or cannot be JSON (a
  // node with both a value and children), or when the stream fails.
  void Serialize(const boost::property_tree::ptree& tree, std::ostream& stream) override;
  // The key followed by ".json".
  std::string FileName(const std::string& key) const override;
};

}  // namespace velmo
