// The GTK window driven without a user: built, shown, updated from another
// thread as the monitor does, and closed. Needs a display (run under Xvfb).
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "velmo/app/GtkDialogView.h"
#include "velmo/app/i18n/CustomBoostLocale.h"
#include "velmo/app/i18n/EmbeddedMessageCatalog.h"
#include "velmo/app/i18n/LanguageTable.h"
#include "velmo/app/i18n/Messages.h"

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

// With VELMO_SCREENSHOT=path, writes a picture of the window in the middle of
// a download (how the README's screenshot is made); VELMO_SCREENSHOT_LANGUAGE
// picks the catalog ("de", "ja", ...) so translations can be checked by eye,
// and VELMO_SCREENSHOT_CHOICE=1 shows the language choice instead.
TEST(GtkDialogViewTest, Screenshot) {
  const char* path = std::getenv("VELMO_SCREENSHOT");
  int argc = 0;
  if (path == nullptr || !gtk_init_check(&argc, nullptr))
    GTEST_SKIP() << "VELMO_SCREENSHOT not set";
  const char* language = std::getenv("VELMO_SCREENSHOT_LANGUAGE");
  const char* choice = std::getenv("VELMO_SCREENSHOT_CHOICE");
  EmbeddedMessageCatalog catalog("updater");
  AddLanguageTable(catalog);
  CustomBoostLocale locale(catalog, "");
  locale.SetLanguage(language != nullptr ? language : "en");
  GtkDialogView view;
  class Shot : public DialogViewEvents {
   public:
    Shot(GtkDialogView& view, const SimpleLocale& locale, const char* path, bool choice)
        : view_(view), locale_(locale), path_(path), choice_(choice) {}
    void OnInitDialog() override {
      view_.SetTitle(locale_.Format(messages::kTitle, "Velmo Demo"));
      if (choice_) {
        view_.ShowLanguageChoice(locale_.Translate("Please select the language for your download:"),
                                 {"English", "Deutsch", "日本語", "Русский"});
        view_.SetStatusText(locale_.RemainingTimeText(-1));
      } else {
        view_.ShowProgress();
        view_.SetProgress(42);
        view_.SetStatusText(locale_.RemainingTimeText(150));
      }
      // Once the window has been drawn.
      g_timeout_add(
          500,
          [](gpointer self) -> gboolean {
            auto* shot = static_cast<Shot*>(self);
            shot->saved = shot->view_.SaveScreenshot(shot->path_);
            shot->view_.Close();
            return G_SOURCE_REMOVE;
          },
          this);
    }
    void OnOk(int) override {}
    bool saved = false;

   private:
    GtkDialogView& view_;
    const SimpleLocale& locale_;
    const char* path_;
    bool choice_;
  } events(view, locale, path, choice != nullptr && std::string(choice) == "1");
  view.Run(events);
  EXPECT_TRUE(events.saved);
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
