#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/Eventually.h"
#include "velmo/work/SimpleWork.h"
#include "velmo/work/Work.h"

namespace velmo::test {

// A simple work whose task is a function; counts its runs and records the
// path it ran at.
class FnWork : public SimpleWork {
 public:
  explicit FnWork(std::function<WorkStatus(FnWork&)> fn, std::string name = "FnWork")
      : fn_(std::move(fn)), name_(std::move(name)) {}
  void Describe(boost::property_tree::ptree& out) const override { out.put("name", name_); }
  WorkStatus ExecuteTask() override {
    runs.fetch_add(1);
    return fn_(*this);
  }
  void OnInterrupt() override {
    interrupts.fetch_add(1);
    if (onInterrupt) onInterrupt();
  }
  bool RunsAboveBound() const override { return aboveBound; }
  std::atomic<int> runs{0};
  std::atomic<int> interrupts{0};
  std::function<void()> onInterrupt;
  bool aboveBound = false;
  const std::string& Name() const { return name_; }

 private:
  std::function<WorkStatus(FnWork&)> fn_;
  std::string name_;
};

inline std::shared_ptr<FnWork> Returning(WorkResult result, std::string name = "FnWork") {
  return std::make_shared<FnWork>([result](FnWork&) { return WorkStatus(result, nullptr); },
                                  std::move(name));
}

// A gate a task can wait on; opened by the test or by an interrupt.
class Gate {
 public:
  void Open() {
    std::lock_guard<std::mutex> lock(m_);
    open_ = true;
    cv_.notify_all();
  }
  // Waits at most 10 s; a test never hangs.
  bool Wait() {
    std::unique_lock<std::mutex> lock(m_);
    return cv_.wait_for(lock, std::chrono::seconds(10), [&] { return open_; });
  }
  void Close() {
    std::lock_guard<std::mutex> lock(m_);
    open_ = false;
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool open_ = false;
};

// Records completions (thread-safe) and lets a test wait for one.
class Recorder : public WorkCompleteCallback {
 public:
  explicit Recorder(std::string tag = "", std::vector<std::string>* log = nullptr,
                    std::mutex* logMutex = nullptr)
      : tag_(std::move(tag)), log_(log), logMutex_(logMutex) {}
  void OnWorkComplete(std::shared_ptr<const Work> work, const WorkStatus& status) override {
    if (log_) {
      std::lock_guard<std::mutex> lock(*logMutex_);
      boost::property_tree::ptree d;
      work->Describe(d);
      log_->push_back(tag_ + ":" + d.get<std::string>("name", "?"));
    }
    std::lock_guard<std::mutex> lock(m_);
    statuses.push_back(status);
    cv_.notify_all();
  }
  bool WaitFor(std::size_t count) {
    std::unique_lock<std::mutex> lock(m_);
    return cv_.wait_for(lock, std::chrono::seconds(20), [&] { return statuses.size() >= count; });
  }
  std::size_t Count() {
    std::lock_guard<std::mutex> lock(m_);
    return statuses.size();
  }
  WorkStatus Last() {
    std::lock_guard<std::mutex> lock(m_);
    return statuses.back();
  }
  std::vector<WorkStatus> statuses;

 private:
  std::string tag_;
  std::vector<std::string>* log_;
  std::mutex* logMutex_;
  std::mutex m_;
  std::condition_variable cv_;
};

}  // namespace velmo::test
