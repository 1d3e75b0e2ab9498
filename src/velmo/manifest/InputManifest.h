#pragma once

#include <boost/property_tree/ptree.hpp>
#include <string>
#include <vector>

namespace velmo {

// An object filled from a property tree (a fetched XML document, a stored JSON
// file). Parse throws a member of the manifest exception family on content it
// cannot accept; a half-filled object is never used after a failed Parse.
class InputManifest {
 public:
  virtual ~InputManifest() = default;
  virtual void Parse(const boost::property_tree::ptree& tree) = 0;

  // The elements (names from the document's root down) this manifest takes
  // one at a time with ParseStreamed, as a source reads them, before Parse
  // gets the rest of the tree without them; empty to take the whole tree.
  // Parse must also accept the tree whole, with those elements in place.
  virtual std::vector<std::string> StreamedPath() const { return {}; }
  virtual void ParseStreamed(const boost::property_tree::ptree& /*element*/) {}
};

}  // namespace velmo
