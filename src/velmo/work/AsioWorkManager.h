#pragma once

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "velmo/work/WorkManager.h"

namespace velmo {

// A fixed pool of threads over an io_context used purely as a job queue.
// Execute posts (never runs inline) and may be called from any thread,
// including pool threads. Join drains the queue (jobs posted by jobs too) and
// ends the threads; the destructor abandons queued jobs, releasing the works
// they hold, after the running ones finish. `joinMutex_` serializes Join with
// the destructor. No exception leaves a job: one thrown while a work's
// completion is delivered cancels that work's workflow (see WorkManager).
class AsioWorkManager : public WorkManager {
 public:
  // Throws std::invalid_argument for a thread count of 0.
  explicit AsioWorkManager(std::uint32_t threadCount);
  ~AsioWorkManager() override;

  void Execute(std::shared_ptr<SimpleWork> work) override;
  void Execute(std::shared_ptr<Workflow> workflow, std::shared_ptr<SimpleWork> work) override;
  // Execute, then `done` on the same thread once the work and its completion
  // ran (whether or not the completion threw) and the job let go of the work.
  void Execute(std::shared_ptr<SimpleWork> work, std::function<void()> done);

  // Whether the calling thread is one of this pool's.
  bool OnPoolThread() const;

  // Lets the queue drain, then waits for every thread to end. Must not be
  // called from a pool thread.
  void Join();

  std::uint32_t ThreadCount() const { return threadCount_; }

 private:
  boost::asio::io_context ioContext_;
  std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>>
      workGuard_;
  std::vector<std::thread> threads_;
  std::uint32_t threadCount_;
  std::mutex joinMutex_;
};

}  // namespace velmo
