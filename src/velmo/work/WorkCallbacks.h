#pragma once

#include <memory>

namespace velmo {

class Work;
class SimpleWork;
class WorkStatus;

// Observer of work completions. Called on the work-manager thread that
// completed the work; implementations must be thread-safe and must not throw.
class WorkCompleteCallback {
 public:
  virtual ~WorkCompleteCallback() = default;
  virtual void OnWorkComplete(std::shared_ptr<const Work> work, const WorkStatus& status) = 0;
};

// Observer of in-place retries of a simple work's task.
class SimpleWorkRetryCallback {
 public:
  virtual ~SimpleWorkRetryCallback() = default;
  virtual void OnSimpleWorkRetry(std::shared_ptr<const SimpleWork> work,
                                 const WorkStatus& status) = 0;
};

}  // namespace velmo
