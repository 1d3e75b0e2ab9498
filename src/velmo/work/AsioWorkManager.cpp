#include "velmo/work/AsioWorkManager.h"

#include <boost/asio/post.hpp>
#include <stdexcept>

#include "velmo/work/SimpleWork.h"
#include "velmo/work/Workflow.h"

namespace velmo {

AsioWorkManager::AsioWorkManager(std::uint32_t threadCount) : threadCount_(threadCount) {
  if (threadCount == 0) throw std::invalid_argument("AsioWorkManager needs at least one thread");
  workGuard_.emplace(boost::asio::make_work_guard(ioContext_));
  threads_.reserve(threadCount);
  try {
    for (std::uint32_t i = 0; i < threadCount; ++i) {
      threads_.emplace_back([this] { ioContext_.run(); });
    }
  } catch (...) {
    ioContext_.stop();
    for (auto& t : threads_) t.join();
    throw;
  }
}

AsioWorkManager::~AsioWorkManager() {
  std::lock_guard<std::mutex> lock(joinMutex_);
  ioContext_.stop();
  for (auto& t : threads_) {
    if (t.joinable()) t.join();
  }
  workGuard_.reset();
}

void AsioWorkManager::Execute(std::shared_ptr<SimpleWork> work) {
  boost::asio::post(ioContext_, [work = std::move(work)] {
    WorkStatus status = work->Run();
    work->NotifyComplete(status);
  });
}

void AsioWorkManager::Execute(std::shared_ptr<Workflow> workflow,
                              std::shared_ptr<SimpleWork> work) {
  boost::asio::post(ioContext_, [workflow = std::move(workflow), work = std::move(work)] {
    WorkStatus status = work->Run();
    work->NotifyComplete(status);
    workflow->OnSimpleWorkExecuted(work, status);
  });
}

void AsioWorkManager::Join() {
  std::lock_guard<std::mutex> lock(joinMutex_);
  workGuard_.reset();
  for (auto& t : threads_) {
    if (t.joinable()) t.join();
  }
}

}  // namespace velmo
