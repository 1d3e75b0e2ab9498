#pragma once

#include <cstddef>
#include <string>

#include "velmo/engine/TempFileManifestStoreImpl.h"

namespace velmo {

// Our stored documents are one flat object. The JSON reader recurses once per
// level of nesting, so a file of a few hundred thousand '[' would overflow the
// stack within the size limit; deeper documents are refused before reading.
constexpr std::size_t kMaxStoredJsonDepth = 32;

// The deepest nesting of arrays and objects in `text`, brackets inside strings
// not counted. Never below the depth the JSON reader reaches before it
// accepts or refuses the text: the reader opens a level only at a bracket
// outside a string, and strings end alike for both. Without recursion.
std::size_t JsonNestingDepth(const std::string& text);

// Stored documents as compact JSON, one object on one line and a line feed,
// in UTF-8. Strings escape the quotation mark, backslash and solidus, the five
// named control characters as \b \f \n \r \t, every other control character
// and every character above U+00FF as \uXXXX (uppercase, UTF-16 code units, so
// a character outside the basic plane is two escapes); U+0020 to U+00FF are
// written as themselves. Reading accepts any well-formed JSON in UTF-8.
class JsonTempFileManifestStoreImpl : public TempFileManifestStoreImpl {
 public:
  using TempFileManifestStoreImpl::TempFileManifestStoreImpl;

  // ManifestParseException for text that is not UTF-8, not JSON or nested
  // deeper than kMaxStoredJsonDepth.
  void Parse(std::istream& stream, boost::property_tree::ptree& tree) override;
  // ManifestParseException for a tree that is not UTF-8 or cannot be JSON (a
  // node with both a value and children), or when the stream fails.
  void Serialize(const boost::property_tree::ptree& tree, std::ostream& stream) override;
  // The key followed by ".json".
  std::string FileName(const std::string& key) const override;
};

}  // namespace velmo
