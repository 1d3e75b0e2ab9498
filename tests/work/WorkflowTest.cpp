#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <stdexcept>

#include "velmo/work/AsioWorkManager.h"
#include "velmo/work/ConditionalWork.h"
#include "velmo/work/DeferredWork.h"
#include "velmo/work/LazyParallelWork.h"
#include "velmo/work/LimitedRetrySequentialWork.h"
#include "velmo/work/NoOpWork.h"
#include "velmo/work/ParallelWork.h"
#include "velmo/work/SequentialWork.h"
#include "velmo/work/StandardWorkflow.h"
#include "work/WorkTestSupport.h"

namespace velmo {
namespace {

using test::FnWork;
using test::Gate;
using test::Recorder;

// A task that blocks on a gate until released or interrupted, then reports
// Interrupted when its flag is set.
std::shared_ptr<FnWork> Gated(Gate& gate, std::vector<std::string>* order = nullptr,
                              std::mutex* orderMutex = nullptr, std::string name = "Gated") {
  auto work = std::make_shared<FnWork>(
      [&gate, order, orderMutex](FnWork& self) {
        if (order) {
          std::lock_guard<std::mutex> lock(*orderMutex);
          order->push_back(self.Name());
        }
        gate.Wait();
        if (self.IsInterrupted()) return WorkStatus(WorkResult::Interrupted, nullptr);
        return WorkStatus(WorkResult::Success, nullptr);
      },
      name);
  return work;
}

class RetryableRecorder : public WorkflowRetryableErrorCallback {
 public:
  void OnWorkflowRetryableError(std::shared_ptr<Workflow> workflow, std::shared_ptr<const Work>,
                                const WorkStatus& status) override {
    std::lock_guard<std::mutex> lock(m);
    ++calls;
    last = status;
    stateSeen = workflow->GetState();
  }
  int Calls() {
    std::lock_guard<std::mutex> lock(m);
    return calls;
  }
  std::mutex m;
  int calls = 0;
  WorkStatus last;
  WorkflowState stateSeen = WorkflowState::NotStarted;
};

class ListProducer : public LazyParallelWork {
 public:
  ListProducer(WorkCompleteCallback* observer, unsigned capacity,
               std::vector<std::shared_ptr<Work>> items)
      : LazyParallelWork(observer, capacity), items_(std::move(items)) {}
  std::shared_ptr<Work> GetNextWork() override {
    return Produced() < items_.size() ? items_[Produced()] : nullptr;
  }

 private:
  std::vector<std::shared_ptr<Work>> items_;
};

class TestConditional : public ConditionalWork {
 public:
  TestConditional(WorkCompleteCallback* observer, std::shared_ptr<Work> c,
                  std::shared_ptr<Work> yes, std::shared_ptr<Work> no)
      : ConditionalWork(observer), c_(c), yes_(yes), no_(no) {}
  void Init(bool complete = true) {
    SetCondition(c_);
    SetOnSuccess(yes_);
    if (complete) SetOnFailure(no_);
    Reset();
  }

 private:
  std::shared_ptr<Work> c_, yes_, no_;
};

class WorkflowTest : public ::testing::TestWithParam<unsigned> {
 protected:
  WorkflowTest() : manager_(GetParam()) {}
  std::shared_ptr<StandardWorkflow> Make(std::shared_ptr<Work> root, unsigned maxRunning = 8) {
    auto workflow = std::make_shared<StandardWorkflow>(root, &manager_, maxRunning);
    root->SetWorkflow(workflow);
    workflow->AddRetryableErrorCallback(&retryable_);
    return workflow;
  }
  AsioWorkManager manager_;
  RetryableRecorder retryable_;
};

TEST_P(WorkflowTest, SequenceOfParallelChildrenCompletesOnce) {
  Recorder rootDone;
  auto root = std::make_shared<SequentialWork>(&rootDone, 2);
  auto parallel = std::make_shared<ParallelWork>();
  std::vector<std::shared_ptr<FnWork>> leaves;
  for (int i = 0; i < 3; ++i) {
    leaves.push_back(test::Returning(WorkResult::Success));
    EXPECT_TRUE(parallel->AddChild(leaves.back()));
  }
  EXPECT_FALSE(parallel->AddChild(leaves[0])) << "the same child twice";
  auto last = test::Returning(WorkResult::Success);
  root->AddChild(parallel);
  root->AddChild(last);
  auto workflow = Make(root);
  EXPECT_TRUE(workflow->Start());
  EXPECT_FALSE(workflow->Start());
  ASSERT_TRUE(rootDone.WaitFor(1));
  EXPECT_EQ(rootDone.Last().result, WorkResult::Success);
  EXPECT_EQ(rootDone.Last().data, nullptr);
  ASSERT_TRUE(test::Eventually([&] { return workflow->GetState() == WorkflowState::Finished; }));
  for (auto& leaf : leaves) EXPECT_EQ(leaf->runs, 1);
  EXPECT_EQ(last->runs, 1);
  EXPECT_EQ(rootDone.Count(), 1u);
}

TEST_P(WorkflowTest, SequenceStopsAtErrorAndParallelTurnsErrorFatal) {
  Recorder seqDone;
  auto seq = std::make_shared<SequentialWork>(&seqDone, 3);
  auto third = test::Returning(WorkResult::Success);
  seq->AddChild(test::Returning(WorkResult::Success));
  seq->AddChild(std::make_shared<FnWork>(
      [](FnWork&) { return WorkStatus(WorkResult::Error, std::make_shared<WorkErrorData>("x")); }));
  seq->AddChild(third);
  auto wf = Make(seq);
  wf->Start();
  ASSERT_TRUE(seqDone.WaitFor(1));
  EXPECT_EQ(seqDone.Last().result, WorkResult::Error);
  EXPECT_EQ(seqDone.Last().data, nullptr) << "non-fatal outcomes drop the payload";
  EXPECT_EQ(third->runs, 0);

  Recorder parDone;
  auto par = std::make_shared<ParallelWork>(&parDone);
  par->AddChild(test::Returning(WorkResult::Success));
  par->AddChild(std::make_shared<FnWork>([](FnWork&) {
    return WorkStatus(WorkResult::Error, std::make_shared<WorkErrorData>("bad"));
  }));
  par->AddChild(test::Returning(WorkResult::Success));
  auto wf2 = Make(par);
  wf2->Start();
  ASSERT_TRUE(parDone.WaitFor(1));
  EXPECT_EQ(parDone.Last().result, WorkResult::Fatal);
  ASSERT_TRUE(parDone.Last().data);
  EXPECT_EQ(parDone.Last().data->GetMessage(), "bad");
  ASSERT_TRUE(test::Eventually([&] { return wf2->RunningCount() == 0; }));
  EXPECT_EQ(parDone.Count(), 1u) << "later completions are ignored";
}

TEST_P(WorkflowTest, UnexpectedAndLateCompletions) {
  Recorder done;
  auto seq = std::make_shared<SequentialWork>(&done, 2);
  auto a = test::Returning(WorkResult::Success);
  auto b = test::Returning(WorkResult::Success);
  seq->AddChild(a);
  seq->AddChild(b);
  // `b` reports while `a` is expected: the sequence fails.
  seq->OnWorkComplete(b, WorkStatus(WorkResult::Success, nullptr));
  ASSERT_EQ(done.Count(), 1u);
  EXPECT_EQ(done.Last().result, WorkResult::Fatal);
  EXPECT_EQ(done.Last().data->GetMessage(),
            "Invalid child progress for CompositeWork::OnWorkComplete");
  seq->OnWorkComplete(a, WorkStatus(WorkResult::Success, nullptr));
  EXPECT_EQ(done.Count(), 1u) << "a complete composite ignores completions";

  Recorder done2;
  auto seq2 = std::make_shared<SequentialWork>(&done2, 1);
  auto only = test::Returning(WorkResult::Success);
  seq2->AddChild(only);
  seq2->OnWorkComplete(only, WorkStatus(WorkResult::Interrupted, nullptr));
  seq2->OnWorkComplete(only, WorkStatus(WorkResult::RetryableError, nullptr));
  EXPECT_EQ(done2.Count(), 0u) << "incomplete results change nothing";
  seq2->OnWorkComplete(only, WorkStatus(WorkResult::Success, nullptr));
  ASSERT_EQ(done2.Count(), 1u);
  EXPECT_EQ(done2.Last().result, WorkResult::Success);
}

TEST_P(WorkflowTest, OneWorkThatRunsAboveTheBoundStartsWhateverHoldsTheSlots) {
  if (GetParam() < 2) GTEST_SKIP() << "needs two works running at once";
  Gate gate;
  std::vector<std::string> order;
  std::mutex orderMutex;
  Recorder done;
  auto par = std::make_shared<ParallelWork>(&done);
  par->AddChild(Gated(gate, &order, &orderMutex, "slot"));
  for (const char* name : {"above1", "above2"}) {
    auto work = Gated(gate, &order, &orderMutex, name);
    work->aboveBound = true;
    par->AddChild(work);
  }
  auto wf = Make(par, 1);
  wf->Start();
  ASSERT_TRUE(test::Eventually([&] {
    std::lock_guard<std::mutex> lock(orderMutex);
    return order.size() == 2;
  }));
  // The slot's work and one work above the bound; the other waits for it.
  EXPECT_EQ(wf->RunningCount(), 2u);
  EXPECT_EQ(wf->QueuedCount(), 1u);
  gate.Open();
  ASSERT_TRUE(done.WaitFor(1));
  EXPECT_EQ(done.Last().result, WorkResult::Success);
  std::lock_guard<std::mutex> lock(orderMutex);
  EXPECT_EQ(order.size(), 3u);
}

TEST_P(WorkflowTest, MaxRunningLimitsAndPathOrder) {
  if (GetParam() < 2) GTEST_SKIP() << "needs two works running at once";
  Gate gate;
  std::vector<std::string> order;
  std::mutex orderMutex;
  Recorder done;
  auto par = std::make_shared<ParallelWork>(&done);
  for (int i = 0; i < 5; ++i) {
    par->AddChild(Gated(gate, &order, &orderMutex, "w" + std::to_string(i)));
  }
  auto wf = Make(par, 2);
  wf->Start();
  ASSERT_TRUE(test::Eventually([&] {
    std::lock_guard<std::mutex> lock(orderMutex);
    return order.size() == 2;
  }));
  EXPECT_EQ(wf->RunningCount(), 2u);
  EXPECT_EQ(wf->QueuedCount(), 3u);
  gate.Open();
  ASSERT_TRUE(done.WaitFor(1));
  EXPECT_EQ(done.Last().result, WorkResult::Success);
  std::lock_guard<std::mutex> lock(orderMutex);
  ASSERT_EQ(order.size(), 5u);
  // Works 2..4 are taken from the queue in path order once the first two
  // finish. The order lists when each body started on its thread, so w2 and
  // w3 may appear in either order, and w4 may even start before the slower of
  // them; it can never start before both, since it is dispatched only when
  // one of them has finished.
  EXPECT_EQ(std::set<std::string>(order.begin(), order.begin() + 2),
            (std::set<std::string>{"w0", "w1"}));
  auto position = [&](const std::string& name) {
    return std::find(order.begin(), order.end(), name) - order.begin();
  };
  EXPECT_GT(position("w4"), std::min(position("w2"), position("w3")));
}

TEST_P(WorkflowTest, PauseInterruptsAndResumeRunsAgain) {
  if (GetParam() < 3) GTEST_SKIP() << "needs three works running at once";
  Gate gate;
  Recorder done;
  auto par = std::make_shared<ParallelWork>(&done);
  std::vector<std::shared_ptr<FnWork>> works;
  for (int i = 0; i < 3; ++i) {
    works.push_back(Gated(gate));
    par->AddChild(works.back());
  }
  auto wf = Make(par, 3);
  wf->Start();
  ASSERT_TRUE(test::Eventually([&] {
    int started = 0;
    for (auto& w : works) started += w->runs.load();
    return started == 3;
  }));
  EXPECT_TRUE(wf->Pause());
  EXPECT_FALSE(wf->Pause());
  for (auto& w : works) EXPECT_EQ(w->interrupts, 1);
  gate.Open();  // the blocked tasks now see their interrupt flags
  ASSERT_TRUE(test::Eventually([&] { return wf->QueuedCount() == 3 && wf->RunningCount() == 0; }))
      << "queued " << wf->QueuedCount() << " running " << wf->RunningCount() << " state "
      << int(wf->GetState()) << " done " << done.Count();
  EXPECT_EQ(done.Count(), 0u);
  EXPECT_TRUE(wf->Resume());
  ASSERT_TRUE(done.WaitFor(1));
  EXPECT_EQ(done.Last().result, WorkResult::Success);
  for (auto& w : works) EXPECT_EQ(w->runs, 2);
}

TEST_P(WorkflowTest, LimitedRetrySequenceReportsOnceAndIsQueuedAgain) {
  Recorder done;
  auto seq = std::make_shared<LimitedRetrySequentialWork>(&done, 1);
  auto first = test::Returning(WorkResult::Success);
  std::atomic<bool> healthy{false};
  auto second = std::make_shared<FnWork>([&healthy](FnWork&) {
    if (healthy) return WorkStatus(WorkResult::Success, nullptr);
    return WorkStatus(WorkResult::Error, std::make_shared<WorkErrorData>("checksum"));
  });
  seq->AddChild(first);
  seq->AddChild(second);
  auto wf = Make(seq);
  wf->Start();
  ASSERT_TRUE(test::Eventually([&] { return retryable_.Calls() == 1; }));
  EXPECT_EQ(wf->GetState(), WorkflowState::Suspended);
  {
    std::lock_guard<std::mutex> lock(retryable_.m);
    EXPECT_EQ(retryable_.last.result, WorkResult::RetryableError);
    EXPECT_FALSE(retryable_.last.retry);
    EXPECT_EQ(retryable_.last.data->GetMessage(), "checksum");
  }
  ASSERT_TRUE(test::Eventually([&] { return wf->QueuedCount() == 1; }));
  EXPECT_EQ(first->runs, 2);
  EXPECT_EQ(second->runs, 2);
  EXPECT_EQ(done.Count(), 1u) << "the exhausted retry is reported once";

  // Paused while suspended, Resume leaves it suspended; ResumeSuspended runs.
  EXPECT_TRUE(wf->Pause());
  EXPECT_EQ(wf->GetState(), WorkflowState::PausedSuspended);
  EXPECT_TRUE(wf->Resume());
  EXPECT_EQ(wf->GetState(), WorkflowState::Suspended);
  healthy = true;
  EXPECT_TRUE(wf->ResumeSuspended());
  ASSERT_TRUE(done.WaitFor(2));
  EXPECT_EQ(done.Last().result, WorkResult::Success);
  ASSERT_TRUE(test::Eventually([&] { return wf->GetState() == WorkflowState::Finished; }));
}

TEST_P(WorkflowTest, CancelReportsTheGivenStatus) {
  Recorder done;
  auto root = std::make_shared<SequentialWork>(&done, 1);
  root->AddChild(test::Returning(WorkResult::Success));
  auto wf = Make(root);
  wf->Start();
  ASSERT_TRUE(done.WaitFor(1));
  ASSERT_TRUE(test::Eventually([&] { return wf->IsFinished(); }));
  EXPECT_TRUE(wf->Cancel(WorkStatus(WorkResult::Error, std::make_shared<WorkErrorData>("user"))));
  EXPECT_EQ(wf->GetState(), WorkflowState::Canceled);
  ASSERT_EQ(done.Count(), 2u);
  EXPECT_EQ(done.Last().data->GetMessage(), "user");
  EXPECT_FALSE(wf->Cancel(WorkStatus(WorkResult::Error, nullptr)));
}

TEST_P(WorkflowTest, FatalLeafFinishesTheWorkflowAtOnce) {
  if (GetParam() < 2) GTEST_SKIP() << "the blocked work would hold the only thread";
  Gate gate;
  Recorder done;
  auto par = std::make_shared<ParallelWork>(&done);
  auto slow = Gated(gate);
  slow->onInterrupt = [&gate] { gate.Open(); };
  par->AddChild(slow);
  par->AddChild(
      std::make_shared<FnWork>([](FnWork&) -> WorkStatus { throw std::runtime_error("x"); }));
  auto wf = Make(par, 2);
  wf->Start();
  ASSERT_TRUE(done.WaitFor(1));
  EXPECT_EQ(done.Last().result, WorkResult::Fatal);
  EXPECT_TRUE(test::Eventually([&] { return wf->GetState() == WorkflowState::Finished; }));
  EXPECT_TRUE(test::Eventually([&] { return wf->RunningCount() == 0; }));
  EXPECT_EQ(wf->QueuedCount(), 0u) << "an interrupted work is not queued after the finish";
}

TEST_P(WorkflowTest, LazyParallelProducesWithBoundedFlight) {
  Recorder done;
  std::vector<std::shared_ptr<Work>> items;
  std::vector<std::shared_ptr<FnWork>> leaves;
  for (int i = 0; i < 5; ++i) {
    leaves.push_back(test::Returning(WorkResult::Success));
    items.push_back(leaves.back());
  }
  auto lazy = std::make_shared<ListProducer>(&done, 3, items);
  auto wf = Make(lazy);
  wf->Start();
  ASSERT_TRUE(done.WaitFor(1));
  EXPECT_EQ(done.Last().result, WorkResult::Success);
  for (std::uint32_t i = 0; i < 5; ++i) {
    EXPECT_EQ(leaves[i]->GetPath(), Work::Path{i});
    EXPECT_EQ(leaves[i]->runs, 1);
  }
  EXPECT_THROW(ListProducer(nullptr, 0, {}), std::invalid_argument);
}

// Every production checks that fewer than `capacity` children are in flight:
// a child counts as landed once its own observer has run, which happens
// before its parent hears of it.
class CountingProducer : public LazyParallelWork {
 public:
  CountingProducer(WorkCompleteCallback* observer, unsigned capacity, std::size_t total, Gate& gate)
      : LazyParallelWork(observer, capacity), total_(total), gate_(gate) {}
  std::shared_ptr<Work> GetNextWork() override {
    if (Produced() >= total_) return nullptr;
    const int inFlight = produced_.fetch_add(1) + 1 - landing_.landed.load();
    int seen = maxInFlight.load();
    while (inFlight > seen && !maxInFlight.compare_exchange_weak(seen, inFlight)) {
    }
    auto leaf = Gated(gate_);
    leaf->AddCompleteCallback(&landing_);
    return leaf;
  }
  std::atomic<int> maxInFlight{0};

 private:
  struct Landing : WorkCompleteCallback {
    void OnWorkComplete(std::shared_ptr<const Work>, const WorkStatus&) override {
      landed.fetch_add(1);
    }
    std::atomic<int> landed{0};
  };
  std::size_t total_;
  Gate& gate_;
  std::atomic<int> produced_{0};
  Landing landing_;
};

TEST_P(WorkflowTest, LazyParallelNeverHasMoreThanItsCapacityInFlight) {
  for (unsigned capacity : {1u, 2u, 3u}) {
    Gate gate;
    Recorder done;
    auto lazy = std::make_shared<CountingProducer>(&done, capacity, 40, gate);
    auto wf = Make(lazy, 8);
    wf->Start();
    // Nothing has finished yet: exactly `capacity` children were built.
    EXPECT_EQ(lazy->maxInFlight.load(), static_cast<int>(capacity));
    gate.Open();
    ASSERT_TRUE(done.WaitFor(1));
    EXPECT_EQ(done.Last().result, WorkResult::Success);
    EXPECT_EQ(lazy->maxInFlight.load(), static_cast<int>(capacity)) << "capacity " << capacity;
  }
}

TEST_P(WorkflowTest, AnExtraChildOfALazyParallelRunsAtOnceAndIsWaitedFor) {
  if (GetParam() < 2) GTEST_SKIP() << "the task that starts it holds the only thread";
  Recorder done;
  Gate extraRan, release;
  auto extra = std::make_shared<FnWork>([&](FnWork&) {
    extraRan.Open();
    release.Wait();
    return WorkStatus(WorkResult::Success, nullptr);
  });
  std::shared_ptr<ListProducer> lazy;
  std::atomic<bool> started{false}, ranBeside{false};
  auto first = std::make_shared<FnWork>([&](FnWork&) {
    started = lazy->StartExtraChild(extra);
    // Handed out now, while this task still runs; not at the next completion.
    ranBeside = extraRan.Wait();
    return WorkStatus(WorkResult::Success, nullptr);
  });
  auto second = test::Returning(WorkResult::Success);
  lazy =
      std::make_shared<ListProducer>(&done, 1, std::vector<std::shared_ptr<Work>>{first, second});
  EXPECT_FALSE(lazy->StartExtraChild(test::Returning(WorkResult::Success))) << "not running";
  auto wf = Make(lazy);
  wf->Start();
  // The extra child is no produced item: the second one still comes.
  ASSERT_TRUE(test::Eventually([&] { return second->runs.load() == 1; }));
  EXPECT_TRUE(started);
  EXPECT_TRUE(ranBeside);
  EXPECT_FALSE(lazy->IsComplete()) << "completed before its extra child";
  release.Open();
  ASSERT_TRUE(done.WaitFor(1));
  EXPECT_EQ(done.Last().result, WorkResult::Success);
  EXPECT_EQ(extra->runs, 1);
  EXPECT_EQ(extra->GetPath(), Work::Path{1});
  EXPECT_EQ(second->GetPath(), Work::Path{2});
  EXPECT_FALSE(lazy->StartExtraChild(test::Returning(WorkResult::Success))) << "complete";
}

// A completion observer that throws, as a buggy owner's handler would.
class ThrowingObserver : public WorkCompleteCallback {
 public:
  void OnWorkComplete(std::shared_ptr<const Work>, const WorkStatus&) override {
    throw std::runtime_error("observer failed");
  }
};

// A producer whose second item cannot be made.
class FailingProducer : public LazyParallelWork {
 public:
  explicit FailingProducer(WorkCompleteCallback* observer) : LazyParallelWork(observer, 1) {}
  std::shared_ptr<Work> GetNextWork() override {
    if (Produced() == 0) return test::Returning(WorkResult::Success);
    throw std::length_error("producer failed");
  }
};

std::string ExceptionText(const WorkStatus& status) {
  auto data = std::dynamic_pointer_cast<WorkExceptionData>(status.data);
  if (!data) return "no exception";
  try {
    data->Rethrow();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "?";
}

TEST_P(WorkflowTest, AThrowInACompletionChainCancelsTheTreeAsFatal) {
  {
    Recorder done;
    ThrowingObserver thrower;
    auto root = std::make_shared<SequentialWork>(&done, 2);
    auto first = test::Returning(WorkResult::Success);
    first->AddCompleteCallback(&thrower);
    auto second = test::Returning(WorkResult::Success);
    root->AddChild(first);
    root->AddChild(second);
    auto wf = Make(root);
    wf->Start();
    ASSERT_TRUE(done.WaitFor(1));
    EXPECT_EQ(done.Last().result, WorkResult::Fatal);
    EXPECT_EQ(ExceptionText(done.Last()), "observer failed");
    EXPECT_TRUE(test::Eventually([&] { return wf->GetState() == WorkflowState::Canceled; }));
    EXPECT_TRUE(test::Eventually([&] { return wf->RunningCount() == 0; }));
    EXPECT_EQ(second->runs.load(), 0) << "the tree stops at the throw";
    EXPECT_EQ(done.Count(), 1u);
  }
  {
    // The producer is called on the pool thread that completed the first child.
    Recorder done;
    auto lazy = std::make_shared<FailingProducer>(&done);
    auto wf = Make(lazy);
    wf->Start();
    ASSERT_TRUE(done.WaitFor(1));
    EXPECT_EQ(done.Last().result, WorkResult::Fatal);
    EXPECT_EQ(ExceptionText(done.Last()), "producer failed");
  }
  // The pool survived both and still runs works.
  Recorder after;
  auto root = std::make_shared<SequentialWork>(&after, 1);
  root->AddChild(test::Returning(WorkResult::Success));
  Make(root)->Start();
  ASSERT_TRUE(after.WaitFor(1));
  EXPECT_EQ(after.Last().result, WorkResult::Success);
}

TEST_P(WorkflowTest, ConditionalRunsOneBranch) {
  for (WorkResult conditionResult : {WorkResult::Success, WorkResult::Error}) {
    Recorder done;
    auto yes = test::Returning(WorkResult::Success);
    auto no = test::Returning(WorkResult::Error);
    auto cond = std::make_shared<TestConditional>(&done, test::Returning(conditionResult), yes, no);
    cond->Init();
    auto wf = Make(cond);
    wf->Start();
    ASSERT_TRUE(done.WaitFor(1));
    bool succeeded = conditionResult == WorkResult::Success;
    EXPECT_EQ(yes->runs, succeeded ? 1 : 0);
    EXPECT_EQ(no->runs, succeeded ? 0 : 1);
    EXPECT_EQ(done.Last().result, succeeded ? WorkResult::Success : WorkResult::Error);
  }
  auto partial = std::make_shared<TestConditional>(nullptr, test::Returning(WorkResult::Success),
                                                   test::Returning(WorkResult::Success), nullptr);
  partial->Init(false);
  auto wf = Make(partial);
  try {
    wf->Start();
    FAIL() << "an empty branch must be refused";
  } catch (const std::logic_error& e) {
    EXPECT_STREQ(e.what(), "ConditionalWork::QueueAvailableWork called with incomplete children");
  }
}

TEST_P(WorkflowTest, DeferredRunsWhatIsAssignedOrNothing) {
  Recorder done;
  auto deferred = std::make_shared<DeferredWork>(&done);
  auto wf = Make(deferred);
  wf->Start();
  ASSERT_TRUE(done.WaitFor(1));
  EXPECT_EQ(done.Last().result, WorkResult::Success);
  EXPECT_FALSE(deferred->Assign(test::Returning(WorkResult::Success)));

  Recorder done2;
  auto deferred2 = std::make_shared<DeferredWork>(&done2);
  auto graft = test::Returning(WorkResult::Error);
  EXPECT_TRUE(deferred2->Assign(graft));
  EXPECT_FALSE(deferred2->Assign(test::Returning(WorkResult::Success)));
  auto wf2 = Make(deferred2);
  wf2->Start();
  ASSERT_TRUE(done2.WaitFor(1));
  EXPECT_EQ(done2.Last().result, WorkResult::Error);
  EXPECT_EQ(graft->runs, 1);
}

// Thousands of works under pauses and resumes: every leaf runs to success
// exactly once per completion and the tree completes once.
TEST_P(WorkflowTest, StressWithPausesAndResumes) {
  constexpr int kLeaves = 2000;
  Recorder done;
  std::vector<std::shared_ptr<Work>> items;
  std::atomic<int> completed{0};
  for (int i = 0; i < kLeaves; ++i) {
    items.push_back(std::make_shared<FnWork>([&completed](FnWork& self) {
      if (self.IsInterrupted()) return WorkStatus(WorkResult::Interrupted, nullptr);
      completed.fetch_add(1);
      return WorkStatus(WorkResult::Success, nullptr);
    }));
  }
  auto lazy = std::make_shared<ListProducer>(&done, 16, items);
  auto wf = Make(lazy, 6);
  wf->Start();
  std::mt19937 random(12345);
  while (done.Count() == 0) {
    wf->Pause();
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 200));
    wf->Resume();
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 500));
    ASSERT_FALSE(wf->IsSuspended());
  }
  ASSERT_TRUE(done.WaitFor(1));
  EXPECT_EQ(done.Last().result, WorkResult::Success);
  EXPECT_EQ(completed.load(), kLeaves);
}

INSTANTIATE_TEST_SUITE_P(Threads, WorkflowTest, ::testing::Values(1u, 2u, 4u, 8u));

TEST(AsioWorkManagerTest, OneThreadRunsInPostingOrderAndJoinDrains) {
  std::vector<int> order;
  std::mutex m;
  auto manager = std::make_unique<AsioWorkManager>(1);
  for (int i = 0; i < 50; ++i) {
    manager->Execute(std::make_shared<FnWork>([&, i](FnWork&) {
      std::lock_guard<std::mutex> lock(m);
      order.push_back(i);
      return WorkStatus(WorkResult::Success, nullptr);
    }));
  }
  // A job that posts another job: Join waits for it too.
  AsioWorkManager* raw = manager.get();
  manager->Execute(std::make_shared<FnWork>([&, raw](FnWork&) {
    raw->Execute(std::make_shared<FnWork>([&](FnWork&) {
      std::lock_guard<std::mutex> lock(m);
      order.push_back(999);
      return WorkStatus(WorkResult::Success, nullptr);
    }));
    return WorkStatus(WorkResult::Success, nullptr);
  }));
  manager->Join();
  ASSERT_EQ(order.size(), 51u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
  EXPECT_EQ(order.back(), 999);
  EXPECT_THROW(AsioWorkManager(0), std::invalid_argument);
}

TEST(AsioWorkManagerTest, AStandAloneWorkWhoseObserverThrowsLeavesThePoolRunning) {
  ThrowingObserver thrower;
  AsioWorkManager manager(1);
  auto failing = test::Returning(WorkResult::Success);
  failing->AddCompleteCallback(&thrower);
  manager.Execute(failing);
  Recorder next;
  manager.Execute(
      std::make_shared<FnWork>([](FnWork&) { return WorkStatus(WorkResult::Success); }));
  auto last = test::Returning(WorkResult::Success);
  last->AddCompleteCallback(&next);
  manager.Execute(last);
  ASSERT_TRUE(next.WaitFor(1));
  manager.Join();
  EXPECT_EQ(failing->runs.load(), 1);
}

TEST(AsioWorkManagerTest, DestructionAbandonsQueuedJobsAndReleasesTheirWorks) {
  Gate started;
  Gate release;
  auto manager = std::make_unique<AsioWorkManager>(1);
  manager->Execute(std::make_shared<FnWork>([&](FnWork&) {
    started.Open();
    release.Wait();
    return WorkStatus(WorkResult::Success, nullptr);
  }));
  std::vector<std::weak_ptr<FnWork>> queued;
  std::atomic<int> ran{0};
  for (int i = 0; i < 20; ++i) {
    auto w = std::make_shared<FnWork>([&](FnWork&) {
      ran.fetch_add(1);
      return WorkStatus(WorkResult::Success, nullptr);
    });
    queued.push_back(w);
    manager->Execute(w);
  }
  ASSERT_TRUE(started.Wait());
  std::thread destroyer([&] { manager.reset(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  release.Open();
  destroyer.join();
  EXPECT_EQ(ran.load(), 0);
  for (auto& w : queued) EXPECT_TRUE(w.expired());
}

}  // namespace
}  // namespace velmo
