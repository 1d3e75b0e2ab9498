#pragma once

// One record for an event manager: the creator fills the tree, then submits the
// work; the manager's thread reads the tree when the work runs. The tree is
// therefore never touched by two threads at once.

#include <boost/property_tree/ptree.hpp>
#include <cstdint>

#include "velmo/work/SimpleWork.h"

namespace velmo {

class TrackEventWork : public SimpleWork {
 public:
  explicit TrackEventWork(std::int32_t category) : category_(category) {}

  boost::property_tree::ptree& GetTree() { return tree_; }
  const boost::property_tree::ptree& GetTree() const { return tree_; }
  std::int32_t GetCategory() const { return category_; }

  // Event works run stand-alone on their manager's pool; no workflow ever
  // interrupts them, so there is nothing to abort.
  void OnInterrupt() override {}

 private:
  boost::property_tree::ptree tree_;
  const std::int32_t category_;
};

}  // namespace velmo
