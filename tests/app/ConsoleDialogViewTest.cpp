#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <thread>

#include "velmo/app/ConsoleDialogView.h"

namespace velmo {
namespace {

using namespace std::chrono_literals;

class CountingEvents : public DialogViewEvents {
 public:
  void OnInitDialog() override { inits.fetch_add(1); }
  void OnOk(int) override {}
  std::atomic<int> inits{0};
};

// Closes the console's files at the end of each case.
class ConsoleInterruptTest : public ::testing::Test {
 protected:
  ~ConsoleInterruptTest() override {
    for (std::FILE* f : {in_, out_, err_}) std::fclose(f);
  }
  std::FILE* in_ = std::tmpfile();
  std::FILE* out_ = std::tmpfile();
  std::FILE* err_ = std::tmpfile();
};

// SIGINT and SIGTERM end Run as closing the window does; the process goes on
// to its teardown.
TEST_F(ConsoleInterruptTest, InterruptsCloseTheViewInsteadOfEndingTheProcess) {
  for (int signal : {SIGINT, SIGTERM}) {
    ConsoleDialogView::CloseOnInterrupt();
    ConsoleDialogView view(in_, out_, err_);
    CountingEvents events;
    auto run = std::async(std::launch::async, [&] { view.Run(events); });
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (events.inits.load() == 0 && std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(1ms);
    }
    ASSERT_EQ(events.inits.load(), 1);
    ASSERT_EQ(::kill(::getpid(), signal), 0);
    if (run.wait_for(10s) != std::future_status::ready) {
      view.Close();
      FAIL() << "Run went on after signal " << signal;
    }
    EXPECT_TRUE(ConsoleDialogView::Interrupted());
    // A second signal, as an impatient user sends, is absorbed.
    ASSERT_EQ(::kill(::getpid(), signal), 0);
  }
}

TEST_F(ConsoleInterruptTest, AnInterruptBeforeRunShowsNothing) {
  ConsoleDialogView::CloseOnInterrupt();
  EXPECT_FALSE(ConsoleDialogView::Interrupted());
  ASSERT_EQ(::raise(SIGTERM), 0);
  ConsoleDialogView view(in_, out_, err_);
  CountingEvents events;
  auto run = std::async(std::launch::async, [&] { view.Run(events); });
  if (run.wait_for(10s) != std::future_status::ready) {
    view.Close();
    FAIL() << "Run did not return";
  }
  EXPECT_EQ(events.inits.load(), 0) << "nothing started after the interrupt";
}

}  // namespace
}  // namespace velmo
