#include "velmo/work/AsioWorkManager.h"

#include <boost/asio/post.hpp>
#include <cstdio>
#include <exception>
#include <stdexcept>

#include "velmo/work/SimpleWork.h"
#include "velmo/work/Workflow.h"

namespace velmo {

namespace {

// The pool the calling thread belongs to, if any.
thread_local const AsioWorkManager* t_pool = nullptr;

// The completion chain of a work (observers, parents, the producers that
// composites call, the workflow's bookkeeping) is code of many owners. A throw
// there must not unwind into the io_context, which would end the process: the
// tree it belongs to is canceled with a Fatal status that carries the
// exception, and its owner reports that like any other failure.
void CancelAfterThrow(const std::shared_ptr<Workflow>& workflow) {
  auto data = std::make_shared<WorkExceptionData>(std::current_exception());
  try {
    workflow->Cancel(WorkStatus(WorkResult::Fatal, data));
  } catch (...) {
    // The owner's own completion handler threw as well; nobody is left to
    // tell but the console.
    std::fprintf(stderr, "velmo: a work's completion failed twice: %s\n",
                 data->GetMessage().c_str());
  }
}

}  // namespace

AsioWorkManager::AsioWorkManager(std::uint32_t threadCount) : threadCount_(threadCount) {
  if (threadCount == 0) throw std::invalid_argument("AsioWorkManager needs at least one thread");
  workGuard_.emplace(boost::asio::make_work_guard(ioContext_));
  threads_.reserve(threadCount);
  try {
    for (std::uint32_t i = 0; i < threadCount; ++i) {
      threads_.emplace_back([this] {
        t_pool = this;
        ioContext_.run();
      });
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
  Execute(std::move(work), nullptr);
}

void AsioWorkManager::Execute(std::shared_ptr<SimpleWork> work, std::function<void()> done) {
  boost::asio::post(ioContext_, [work = std::move(work), done = std::move(done)]() mutable {
    WorkStatus status = work->Run();
    try {
      work->NotifyComplete(status);
    } catch (...) {
      // A stand-alone work (a log or analytics record) has no tree to stop;
      // the record is lost, the process goes on.
      WorkExceptionData data(std::current_exception());
      std::fprintf(stderr, "velmo: a work's completion failed: %s\n", data.GetMessage().c_str());
    }
    work.reset();
    if (done) done();
  });
}

bool AsioWorkManager::OnPoolThread() const { return t_pool == this; }

void AsioWorkManager::Execute(std::shared_ptr<Workflow> workflow,
                              std::shared_ptr<SimpleWork> work) {
  boost::asio::post(ioContext_, [workflow = std::move(workflow), work = std::move(work)] {
    WorkStatus status = work->Run();
    try {
      work->NotifyComplete(status);
    } catch (...) {
      CancelAfterThrow(workflow);
    }
    try {
      workflow->OnSimpleWorkExecuted(work, status);
    } catch (...) {
      CancelAfterThrow(workflow);
    }
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
