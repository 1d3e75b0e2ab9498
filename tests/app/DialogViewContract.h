#pragma once
// What Dialog relies on from every view of its window, as type-parameterized
// tests: Run reports the window once, on its own thread; every update may
// come from another thread while Run runs; Close from any thread ends Run;
// after Run has ended, updates, an error box and another Close return at once
// instead of waiting for a window that is gone. Each view instantiates the
// suite with a kind that makes it (and says when it cannot run here):
//
//   INSTANTIATE_TYPED_TEST_SUITE_P(Console, DialogViewContractTest, ConsoleKind);
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "velmo/app/DialogView.h"

namespace velmo::test {

// Records the window's reports and drives the view from a second thread, as
// the transfer monitor does.
class ContractEvents : public DialogViewEvents {
 public:
  explicit ContractEvents(DialogView& view, bool closeAtOnce = false)
      : view_(view), closeAtOnce_(closeAtOnce) {}
  ~ContractEvents() override {
    if (worker_.joinable()) worker_.join();
  }
  void OnInitDialog() override {
    inits.fetch_add(1);
    initThread = std::this_thread::get_id();
    if (closeAtOnce_) {
      view_.Close();
      return;
    }
    worker_ = std::thread([this] {
      view_.SetTitle("Contract test");
      view_.ShowLanguageChoice("Language:", {"English", "Deutsch"});
      view_.ShowProgress();
      for (int percent : {-5, 0, 33, 100, 150}) {
        view_.SetProgress(percent);
        view_.SetStatusText(std::to_string(percent) + " %");
      }
      view_.StartMarquee();
      view_.Close();
      view_.Close();  // a second Close is harmless
    });
  }
  void OnOk(int) override {}

  std::atomic<int> inits{0};
  std::thread::id initThread;

 private:
  DialogView& view_;
  const bool closeAtOnce_;
  std::thread worker_;
};

template <typename Kind>
class DialogViewContractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Kind::Available()) GTEST_SKIP() << "this view cannot run here (no display?)";
    kind_ = std::make_unique<Kind>();
  }
  DialogView& View() { return kind_->View(); }

  std::unique_ptr<Kind> kind_;
};

TYPED_TEST_SUITE_P(DialogViewContractTest);

TYPED_TEST_P(DialogViewContractTest, UpdatesFromAnotherThreadThenCloseEndRun) {
  ContractEvents events(this->View());
  this->View().Run(events);  // returns once the worker closes the view
  EXPECT_EQ(events.inits.load(), 1);
  EXPECT_EQ(events.initThread, std::this_thread::get_id()) << "reports come on Run's thread";
}

TYPED_TEST_P(DialogViewContractTest, CloseInsideTheFirstReportEndsRun) {
  ContractEvents events(this->View(), true);
  this->View().Run(events);
  EXPECT_EQ(events.inits.load(), 1);
}

TYPED_TEST_P(DialogViewContractTest, AfterRunEveryCallReturnsAtOnce) {
  ContractEvents events(this->View(), true);
  this->View().Run(events);
  DialogView& view = this->View();
  auto late = std::async(std::launch::async, [&view] {
    view.SetProgress(10);
    view.SetStatusText("late");
    view.ShowProgress();
    view.StartMarquee();
    view.ShowMessage("text", "caption");
    view.Close();
  });
  ASSERT_EQ(late.wait_for(std::chrono::seconds(30)), std::future_status::ready)
      << "a call after Run waited for a window that is gone";
}

REGISTER_TYPED_TEST_SUITE_P(DialogViewContractTest, UpdatesFromAnotherThreadThenCloseEndRun,
                            CloseInsideTheFirstReportEndsRun, AfterRunEveryCallReturnsAtOnce);

}  // namespace velmo::test
