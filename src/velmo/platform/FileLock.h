#pragma once

#include <functional>
#include <string>

namespace velmo {

// An exclusive advisory lock on a file (flock), held until the object is
// destroyed. The kernel drops the lock with the holder's last descriptor, so
// a holder that crashed or was killed never leaves it taken; the file itself
// stays (removing it would let two processes lock two different files under
// one name). The holder writes a note into the file saying who it is, which
// the next taker reads when it finds the lock busy.
class FileLock {
 public:
  enum class Result {
    Taken,
    Busy,         // another open file holds it; Detail() is the holder's note
    Interrupted,  // the wait was given up (keepWaiting answered false)
    Failed,       // the file cannot be opened or locked; Detail() says why
  };

  FileLock() = default;
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Opens `path` (made with mode 0600 when missing; a link in its place is
  // refused) and takes its lock, then writes `note` into it. Without
  // `keepWaiting` a busy lock answers Busy at once; with it the lock is
  // tried again every 100 ms for as long as keepWaiting() answers true.
  // A lock already held by this object is released first.
  Result Take(const std::string& path, const std::string& note,
              const std::function<bool()>& keepWaiting = nullptr);

  bool Held() const { return fd_ >= 0; }
  const std::string& Detail() const { return detail_; }

 private:
  void Release();

  int fd_ = -1;
  std::string detail_;
};

}  // namespace velmo
