#pragma once

// Polls the watched transfers for the application and calls it back: progress
// while a transfer runs, and ready, error or finished when the application has
// to act (after which the entry is dropped).
//
// Threads: Watch and Unwatch may be called from any thread, the monitor's own
// callbacks included. One monitor thread (Start) polls every interval and runs
// every callback. `mutex_` guards the watch list, the stop flag's changes and
// the thread object; it is never held while the source is asked for a
// snapshot or while a callback runs. Before each entry is served the loop
// checks, under the mutex, that the entry is still watched, so a callback that
// the application has unwatched from another thread is not called afterwards
// unless that call had already begun.
//
// The monitor must not be destroyed from one of its own callbacks (the
// destructor joins the monitor thread).

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace velmo {

class TransferMonitorCallback;
class TransferStatusSource;

class TransferMonitorImpl {
 public:
  static constexpr std::uint32_t kPollIntervalMs = 100;

  // `source` must outlive the monitor.
  explicit TransferMonitorImpl(TransferStatusSource* source,
                               std::uint32_t intervalMs = kPollIntervalMs);
  ~TransferMonitorImpl();
  TransferMonitorImpl(const TransferMonitorImpl&) = delete;
  TransferMonitorImpl& operator=(const TransferMonitorImpl&) = delete;

  // Starts the monitor thread; later calls do nothing.
  void Start();
  // Adds an entry; `callback` is not owned and must stay alive while watched.
  void Watch(const std::string& transferId, TransferMonitorCallback* callback);
  // Removes every entry of the id.
  void Unwatch(const std::string& transferId);

 private:
  using WatchList = std::multimap<std::string, TransferMonitorCallback*>;

  void Run();
  // Waits out the rest of the interval; false when the monitor is stopping.
  bool Pause();
  void Poll();
  bool IsWatched(const std::string& transferId, TransferMonitorCallback* callback,
                 const WatchList& handedOver);
  void Hand(const std::string& transferId, WatchList& handedOver);

  TransferStatusSource* const source_;
  const std::uint32_t intervalMs_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::atomic<bool> stop_{false};  // written under mutex_ so the wait cannot miss it
  std::thread thread_;
  WatchList watched_;
};

}  // namespace velmo
