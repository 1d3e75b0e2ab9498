#pragma once

#include <gtk/gtk.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "velmo/app/DialogView.h"

namespace velmo {

// The dialog as a small GTK 3 window: the language prompt, its combo box and
// OK (the default button; Enter presses it), the progress bar, the status
// line and a pulsing bar while the program launches. Fixed size, centred,
// with the program's icon; error boxes are modal and carry the error icon.
//
// Threads: GTK is used only on the thread that runs Run (the main thread).
// Calls from other threads are handed to the main loop; ShowMessage waits
// until the box is dismissed, in slices, so it cannot hang once the window is
// gone. gtk_init_check must have succeeded before construction.
class GtkDialogView : public DialogView {
 public:
  GtkDialogView();
  ~GtkDialogView() override;
  GtkDialogView(const GtkDialogView&) = delete;
  GtkDialogView& operator=(const GtkDialogView&) = delete;

  void Run(DialogViewEvents& events) override;
  void SetTitle(const std::string& title) override;
  void SetStatusText(const std::string& text) override;
  void SetProgress(int percent) override;
  void ShowLanguageChoice(const std::string& prompt,
                          const std::vector<std::string>& names) override;
  void ShowProgress() override;
  void StartMarquee() override;
  void ShowMessage(const std::string& text, const std::string& caption) override;
  void Close() override;

  // Writes the window as it is on screen to a PNG file (for documentation);
  // call on the main thread while the window is shown.
  bool SaveScreenshot(const std::string& path);

  // The program's icon, drawn in code so that the executable carries it.
  static GdkPixbuf* CreateIcon(int size);

 private:
  // Runs `function` on the main loop's thread: at once when called there,
  // else queued (and awaited when `wait`).
  void OnMain(std::function<void()> function, bool wait);
  void Build();
  void PressOk();

  static void OnOkClicked(GtkButton* button, gpointer self);
  static gboolean OnKeyPress(GtkWidget* widget, GdkEventKey* event, gpointer self);
  static gboolean OnDelete(GtkWidget* widget, GdkEvent* event, gpointer self);
  static gboolean Pulse(gpointer self);

  GtkWidget* window_ = nullptr;
  GtkWidget* prompt_ = nullptr;
  GtkWidget* combo_ = nullptr;
  GtkWidget* ok_ = nullptr;
  GtkWidget* progress_ = nullptr;
  GtkWidget* marquee_ = nullptr;
  GtkWidget* status_ = nullptr;
  guint pulseTimer_ = 0;
  DialogViewEvents* events_ = nullptr;
  std::thread::id mainThread_;
  std::atomic<bool> looping_{false};
};

}  // namespace velmo
