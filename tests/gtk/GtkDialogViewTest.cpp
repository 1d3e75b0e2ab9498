// The GTK window driven without a user: built, shown, updated from another
// thread as the monitor does, and closed. Needs a display (run under Xvfb).
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "velmo/app/GtkDialogView.h"

namespace velmo {
namespace {

class Events : public DialogViewEvents {
 public:
  explicit Events(GtkDialogView& view) : view_(view) {}
  void OnInitDialog() override {
    initialized = true;
    view_.SetTitle("Velmo Test Downloader");
    view_.ShowLanguageChoice("Please select the language for your download:",
                             {"English", "Deutsch"});
    // The user presses OK: the window calls back on this thread.
    worker_ = std::thread([this] {
      view_.ShowProgress();
      for (int p = 0; p <= 100; p += 25) {
        view_.SetProgress(p);
        view_.SetStatusText(std::to_string(p) + "%");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      view_.StartMarquee();
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      view_.Close();
    });
  }
  void OnOk(int) override {}
  ~Events() override {
    if (worker_.joinable()) worker_.join();
  }
  std::atomic<bool> initialized{false};

 private:
  GtkDialogView& view_;
  std::thread worker_;
};

TEST(GtkDialogViewTest, ShowsUpdatesFromAnotherThreadAndCloses) {
  int argc = 0;
  if (!gtk_init_check(&argc, nullptr)) GTEST_SKIP() << "no display (run under xvfb-run)";
  GtkDialogView view;
  Events events(view);
  view.Run(events);  // returns once the worker closes the window
  EXPECT_TRUE(events.initialized);
  // After the window is gone, calls from other threads are dropped, and an
  // error box does not wait for a window that will never show it.
  std::thread late([&] {
    view.SetProgress(10);
    view.ShowMessage("text", "caption");
  });
  late.join();
}

TEST(GtkDialogViewTest, IconIsDrawnAtTheRequestedSize) {
  int argc = 0;
  if (!gtk_init_check(&argc, nullptr)) GTEST_SKIP() << "no display (run under xvfb-run)";
  GdkPixbuf* icon = GtkDialogView::CreateIcon(32);
  EXPECT_EQ(gdk_pixbuf_get_width(icon), 32);
  EXPECT_TRUE(gdk_pixbuf_get_has_alpha(icon));
  g_object_unref(icon);
}

}  // namespace
}  // namespace velmo
