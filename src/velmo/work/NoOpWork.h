#pragma once

#include "velmo/work/SimpleWork.h"

namespace velmo {

// A leaf that succeeds at once; stands in for an empty subtree.
class NoOpWork : public SimpleWork {
 public:
  NoOpWork() = default;
  explicit NoOpWork(WorkCompleteCallback* observer) : SimpleWork(observer) {}

  void Describe(boost::property_tree::ptree& out) const override { out.put("name", "NoOpWork"); }
  WorkStatus ExecuteTask() override { return WorkStatus(WorkResult::Success, nullptr); }
  void OnInterrupt() override {}
};

}  // namespace velmo
