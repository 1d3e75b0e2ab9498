#pragma once

#include <boost/property_tree/ptree.hpp>

namespace velmo {

// An object filled from a property tree (a fetched XML document, a stored JSON
// file). Parse throws a member of the manifest exception family on content it
// cannot accept; a half-filled object is never used after a failed Parse.
class InputManifest {
 public:
  virtual ~InputManifest() = default;
  virtual void Parse(const boost::property_tree::ptree& tree) = 0;
};

}  // namespace velmo
