#include <gtest/gtest.h>

#include <stdexcept>

#include "velmo/work/CompositeWork.h"
#include "velmo/work/LimitedRetrySimpleWork.h"
#include "velmo/work/NoOpWork.h"
#include "velmo/work/SequentialWork.h"
#include "velmo/work/SimpleWork.h"
#include "velmo/work/Workflow.h"
#include "work/WorkTestSupport.h"

namespace velmo {
namespace {

using test::FnWork;

class ScriptedRetryWork : public LimitedRetrySimpleWork {
 public:
  ScriptedRetryWork(std::uint32_t max, WorkResult result)
      : LimitedRetrySimpleWork(max), result_(result) {}
  WorkStatus ExecuteTask() override {
    ++runs;
    return WorkStatus(result_, nullptr);
  }
  bool CanRetry() override {
    ++canRetryCalls;
    return LimitedRetrySimpleWork::CanRetry();
  }
  void OnInterrupt() override {}
  int runs = 0;
  int canRetryCalls = 0;

 private:
  WorkResult result_;
};

class RetryRecorder : public SimpleWorkRetryCallback {
 public:
  void OnSimpleWorkRetry(std::shared_ptr<const SimpleWork>, const WorkStatus& s) override {
    retryFlags.push_back(s.retry);
  }
  std::vector<bool> retryFlags;
};

TEST(SimpleWorkTest, InterruptedBeforeRunNeverCallsTheTask) {
  auto work = test::Returning(WorkResult::Success);
  work->SetInterrupted();
  WorkStatus s = work->Run();
  EXPECT_EQ(s.result, WorkResult::Interrupted);
  EXPECT_EQ(s.data, nullptr);
  EXPECT_EQ(work->runs, 0);
  work->Reset();
  EXPECT_EQ(work->Run().result, WorkResult::Success);
}

TEST(SimpleWorkTest, RetriesInPlaceUpToTheLimit) {
  auto work = std::make_shared<ScriptedRetryWork>(2, WorkResult::RetryableError);
  RetryRecorder retries;
  work->AddRetryCallback(&retries);
  WorkStatus s = work->Run();
  EXPECT_EQ(work->runs, 3);
  EXPECT_EQ(retries.retryFlags, (std::vector<bool>{true, true}));
  EXPECT_EQ(s.result, WorkResult::RetryableError);
  EXPECT_FALSE(s.retry);
  work->Reset();
  work->runs = 0;
  work->Run();
  EXPECT_EQ(work->runs, 3) << "Reset restores the retry budget";

  auto failing = std::make_shared<ScriptedRetryWork>(5, WorkResult::Error);
  EXPECT_EQ(failing->Run().result, WorkResult::Error);
  EXPECT_EQ(failing->runs, 1);
  EXPECT_EQ(failing->canRetryCalls, 0) << "CanRetry is only asked after RetryableError";
}

TEST(SimpleWorkTest, EscapingExceptionsBecomeFatal) {
  auto std = std::make_shared<FnWork>(
      [](FnWork&) -> WorkStatus { throw std::runtime_error("disk on fire"); });
  WorkStatus s = std->Run();
  ASSERT_EQ(s.result, WorkResult::Fatal);
  auto data = std::dynamic_pointer_cast<WorkExceptionData>(s.data);
  ASSERT_TRUE(data);
  boost::property_tree::ptree tree;
  data->Describe(tree);
  EXPECT_EQ(tree.get<std::string>("what"), "disk on fire");
  EXPECT_NE(tree.get<std::string>("exception").find("runtime_error"), std::string::npos);
  EXPECT_THROW(data->Rethrow(), std::runtime_error);

  auto odd = std::make_shared<FnWork>([](FnWork&) -> WorkStatus { throw 42; });
  WorkStatus t = odd->Run();
  ASSERT_EQ(t.result, WorkResult::Fatal);
  boost::property_tree::ptree oddTree;
  t.data->Describe(oddTree);
  EXPECT_EQ(oddTree.get<std::string>("exception"), "Unknown exception type");
  EXPECT_EQ(oddTree.count("what"), 0u);
  EXPECT_EQ(t.data->GetMessage(), "Unknown exception type");

  WorkExceptionData empty{std::exception_ptr()};
  EXPECT_THROW(empty.Rethrow(), std::logic_error);
  boost::property_tree::ptree emptyTree;
  empty.Describe(emptyTree);
  EXPECT_EQ(emptyTree.get<std::string>("exception"), "Unknown exception type");
}

TEST(WorkStatusTest, DescribesResultRetryAndOptionalData) {
  boost::property_tree::ptree bare;
  WorkStatus(WorkResult::RetryableError, nullptr).Describe(bare);
  EXPECT_EQ(bare.size(), 2u);
  EXPECT_EQ(bare.get<std::string>("result"), "3");
  EXPECT_EQ(bare.get<std::string>("retry"), "false");

  boost::property_tree::ptree full;
  WorkStatus(WorkResult::Error, std::make_shared<WorkErrorData>("boom")).Describe(full);
  EXPECT_EQ(full.get<std::string>("data.errorMessage"), "boom");

  auto noop = std::make_shared<NoOpWork>();
  boost::property_tree::ptree completion;
  noop->DescribeCompletion(WorkStatus(WorkResult::Success, nullptr), completion);
  EXPECT_EQ(completion.get<std::string>("name"), "NoOpWork");
  EXPECT_EQ(completion.get<std::string>("workStatus.result"), "0");
  EXPECT_EQ(completion.get<std::string>("workStatus.retry"), "false");
}

// Records what reaches a workflow, for the notification order.
class LoggingWorkflow : public Workflow {
 public:
  LoggingWorkflow(std::vector<std::string>* log, std::mutex* m) : log_(log), m_(m) {}
  void OnWorkComplete(std::shared_ptr<const Work> work, const WorkStatus&) override {
    boost::property_tree::ptree d;
    work->Describe(d);
    std::lock_guard<std::mutex> lock(*m_);
    log_->push_back("workflow:" + d.get<std::string>("name", "?"));
  }
  bool Start() override { return false; }
  bool Pause() override { return false; }
  bool Resume() override { return false; }
  bool ResumeSuspended() override { return false; }
  WorkflowState GetState() override { return WorkflowState::Running; }
  bool IsStarted() override { return true; }
  bool IsPaused() override { return false; }
  bool IsSuspended() override { return false; }
  bool IsFinished() override { return false; }
  bool Cancel(const WorkStatus&) override { return false; }
  void AddRetryableErrorCallback(WorkflowRetryableErrorCallback*) override {}
  void Execute(std::shared_ptr<SimpleWork>) override {}
  void DispatchQueued() override {}
  void OnSimpleWorkExecuted(std::shared_ptr<SimpleWork>, const WorkStatus&) override {}

 private:
  std::vector<std::string>* log_;
  std::mutex* m_;
};

class NamedSequence : public SequentialWork {
 public:
  using SequentialWork::SequentialWork;
  void Describe(boost::property_tree::ptree& out) const override { out.put("name", "Parent"); }
};

TEST(WorkTest, NotificationGoesToWorkflowThenObserversThenParent) {
  std::vector<std::string> log;
  std::mutex m;
  auto workflow = std::make_shared<LoggingWorkflow>(&log, &m);
  test::Recorder parentObserver("observer", &log, &m);
  test::Recorder childObserver("observer", &log, &m);
  auto parent = std::make_shared<NamedSequence>(&parentObserver, 1);
  auto child = test::Returning(WorkResult::Success, "Child");
  child->AddCompleteCallback(&childObserver);
  parent->AddChild(child);
  parent->SetWorkflow(workflow);

  child->NotifyComplete(WorkStatus(WorkResult::Success, nullptr));
  EXPECT_EQ(log, (std::vector<std::string>{"workflow:Child", "observer:Child", "workflow:Parent",
                                           "observer:Parent"}));

  // A root with an expired workflow and no observers: nothing happens.
  auto lonely = test::Returning(WorkResult::Success);
  {
    auto gone = std::make_shared<LoggingWorkflow>(&log, &m);
    lonely->SetWorkflow(gone);
  }
  EXPECT_NO_THROW(lonely->NotifyComplete(WorkStatus(WorkResult::Success, nullptr)));
  EXPECT_EQ(log.size(), 4u);
}

}  // namespace
}  // namespace velmo
