#include "velmo/work/SimpleWork.h"

#include "velmo/work/Workflow.h"

namespace velmo {

void SimpleWork::Reset() {
  std::lock_guard<std::mutex> lock(waitMutex_);
  interrupted_.store(false);
}

void SimpleWork::SetInterrupted() {
  {
    std::lock_guard<std::mutex> lock(waitMutex_);
    interrupted_.store(true);
  }
  wake_.notify_all();
}

bool SimpleWork::WaitUnlessInterrupted(std::chrono::milliseconds duration) {
  std::unique_lock<std::mutex> lock(waitMutex_);
  return !wake_.wait_for(lock, duration, [this] { return interrupted_.load(); });
}

void SimpleWork::Execute(std::shared_ptr<Workflow> workflow) {
  workflow->Execute(shared_from_this());
}

void SimpleWork::OnSetWorkflow(std::shared_ptr<Workflow> /*workflow*/) {}

void SimpleWork::AddRetryCallback(SimpleWorkRetryCallback* callback) {
  if (callback) retryCallbacks_.push_back(callback);
}

WorkStatus SimpleWork::Run() {
  try {
    while (!interrupted_.load()) {
      WorkStatus status = ExecuteTask();
      status.retry = status.result == WorkResult::RetryableError && CanRetry();
      if (!status.retry) return status;
      std::shared_ptr<const SimpleWork> self = shared_from_this();
      for (SimpleWorkRetryCallback* callback : retryCallbacks_) {
        callback->OnSimpleWorkRetry(self, status);
      }
      const std::chrono::milliseconds delay = RetryDelay(status);
      if (delay.count() > 0 && !WaitUnlessInterrupted(delay)) break;
    }
    return WorkStatus(WorkResult::Interrupted, nullptr);
  } catch (...) {
    return WorkStatus(WorkResult::Fatal,
                      std::make_shared<WorkExceptionData>(std::current_exception()));
  }
}

}  // namespace velmo
