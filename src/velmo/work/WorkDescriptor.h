#pragma once

#include <boost/property_tree/ptree.hpp>

namespace velmo {

// Anything that can describe itself for the work log and analytics, as
// key/value pairs in a property tree.
class WorkDescriptor {
 public:
  virtual ~WorkDescriptor() = default;
  virtual void Describe(boost::property_tree::ptree& out) const = 0;
};

}  // namespace velmo
