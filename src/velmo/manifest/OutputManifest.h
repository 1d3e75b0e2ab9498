#pragma once

#include <boost/property_tree/ptree.hpp>

namespace velmo {

// An object that describes itself into a property tree. Keys are set, never
// appended, so writing twice into the same tree leaves one value per key.
class OutputManifest {
 public:
  virtual ~OutputManifest() = default;
  virtual void Write(boost::property_tree::ptree& tree) const = 0;
};

}  // namespace velmo
