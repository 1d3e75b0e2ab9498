#include "velmo/app/GtkDialogView.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <future>
#include <memory>

namespace velmo {
namespace {

// About 213 x 39 dialog units of an 8-point dialog font.
constexpr int kWidth = 330;
constexpr int kHeight = 78;

struct Call {
  std::function<void()> function;
  std::shared_ptr<std::promise<void>> done;
};

gboolean RunCall(gpointer data) {
  std::unique_ptr<Call> call(static_cast<Call*>(data));
  call->function();
  if (call->done) call->done->set_value();
  return G_SOURCE_REMOVE;
}

}  // namespace

GtkDialogView::GtkDialogView() : mainThread_(std::this_thread::get_id()) { Build(); }

GtkDialogView::~GtkDialogView() {
  if (pulseTimer_ != 0) g_source_remove(pulseTimer_);
  if (window_ != nullptr) gtk_widget_destroy(window_);
}

GdkPixbuf* GtkDialogView::CreateIcon(int size) {
  // A blue disc with a white arrow pointing down: "download".
  GdkPixbuf* icon = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, size, size);
  const int stride = gdk_pixbuf_get_rowstride(icon);
  guchar* pixels = gdk_pixbuf_get_pixels(icon);
  const double c = (size - 1) / 2.0;
  const double r = size / 2.0 - 0.5;
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      guchar* p =
          pixels + static_cast<std::ptrdiff_t>(y) * stride + static_cast<std::ptrdiff_t>(x) * 4;
      const double dx = x - c;
      const double dy = y - c;
      const bool inDisc = dx * dx + dy * dy <= r * r;
      const double u = dx / size;
      const double v = dy / size;
      const bool shaft = std::fabs(u) < 0.09 && v > -0.32 && v < 0.05;
      const bool head = v >= 0.0 && v < 0.30 && std::fabs(u) < (0.30 - v);
      const bool arrow = shaft || head;
      p[0] = arrow ? 255 : 0x2a;
      p[1] = arrow ? 255 : 0x6f;
      p[2] = arrow ? 255 : 0xdb;
      p[3] = inDisc ? 255 : 0;
    }
  }
  return icon;
}

bool GtkDialogView::SaveScreenshot(const std::string& path) {
  while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
  GdkWindow* window = gtk_widget_get_window(window_);
  if (window == nullptr) return false;
  GdkPixbuf* shot = gdk_pixbuf_get_from_window(window, 0, 0, gdk_window_get_width(window),
                                               gdk_window_get_height(window));
  if (shot == nullptr) return false;
  const gboolean saved = gdk_pixbuf_save(shot, path.c_str(), "png", nullptr, nullptr);
  g_object_unref(shot);
  return saved == TRUE;
}

void GtkDialogView::Build() {
  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
  gtk_window_set_default_size(GTK_WINDOW(window_), kWidth, kHeight);
  gtk_window_set_position(GTK_WINDOW(window_), GTK_WIN_POS_CENTER);
  gtk_container_set_border_width(GTK_CONTAINER(window_), 10);
  GdkPixbuf* icon = CreateIcon(32);
  gtk_window_set_icon(GTK_WINDOW(window_), icon);
  g_object_unref(icon);

  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
  prompt_ = gtk_label_new("");
  gtk_label_set_xalign(GTK_LABEL(prompt_), 0.0f);
  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  combo_ = gtk_combo_box_text_new();
  ok_ = gtk_button_new_with_label("OK");
  gtk_widget_set_can_default(ok_, TRUE);
  gtk_box_pack_start(GTK_BOX(row), combo_, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(row), ok_, FALSE, FALSE, 0);
  progress_ = gtk_progress_bar_new();
  marquee_ = gtk_progress_bar_new();
  gtk_progress_bar_set_pulse_step(GTK_PROGRESS_BAR(marquee_), 0.05);
  status_ = gtk_label_new("");
  gtk_label_set_xalign(GTK_LABEL(status_), 0.0f);
  gtk_label_set_ellipsize(GTK_LABEL(status_), PANGO_ELLIPSIZE_END);
  gtk_box_pack_start(GTK_BOX(box), prompt_, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), row, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), progress_, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), marquee_, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), status_, FALSE, FALSE, 0);
  gtk_container_add(GTK_CONTAINER(window_), box);
  gtk_window_set_default(GTK_WINDOW(window_), ok_);

  g_signal_connect(ok_, "clicked", G_CALLBACK(OnOkClicked), this);
  g_signal_connect(window_, "key-press-event", G_CALLBACK(OnKeyPress), this);
  g_signal_connect(window_, "delete-event", G_CALLBACK(OnDelete), this);

  gtk_widget_show_all(box);
  // Until the flow decides, only the status line shows.
  gtk_widget_hide(prompt_);
  gtk_widget_hide(row);
  gtk_widget_hide(progress_);
  gtk_widget_hide(marquee_);
}

void GtkDialogView::Run(DialogViewEvents& events) {
  events_ = &events;
  mainThread_ = std::this_thread::get_id();
  gtk_widget_show(window_);
  looping_ = true;
  g_idle_add(
      [](gpointer self) -> gboolean {
        static_cast<GtkDialogView*>(self)->events_->OnInitDialog();
        return G_SOURCE_REMOVE;
      },
      this);
  gtk_main();
  looping_ = false;
  gtk_widget_hide(window_);
  // Let the hide reach the display before the caller goes on.
  while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
}

void GtkDialogView::OnMain(std::function<void()> function, bool wait) {
  if (std::this_thread::get_id() == mainThread_) {
    function();
    return;
  }
  if (!looping_) return;  // the window is gone; nothing to show it in
  auto call = std::make_unique<Call>();
  call->function = std::move(function);
  std::future<void> done;
  if (wait) {
    call->done = std::make_shared<std::promise<void>>();
    done = call->done->get_future();
  }
  g_main_context_invoke(nullptr, RunCall, call.release());
  if (!wait) return;
  // In slices: if the main loop ends first, the call never runs.
  while (done.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
    if (!looping_) return;
  }
}

void GtkDialogView::SetTitle(const std::string& title) {
  OnMain([this, title] { gtk_window_set_title(GTK_WINDOW(window_), title.c_str()); }, false);
}

void GtkDialogView::SetStatusText(const std::string& text) {
  OnMain([this, text] { gtk_label_set_text(GTK_LABEL(status_), text.c_str()); }, false);
}

void GtkDialogView::SetProgress(int percent) {
  const double fraction = percent < 0 ? 0.0 : (percent > 100 ? 1.0 : percent / 100.0);
  OnMain([this, fraction] { gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(progress_), fraction); },
         false);
}

void GtkDialogView::ShowLanguageChoice(const std::string& prompt,
                                       const std::vector<std::string>& names) {
  OnMain(
      [this, prompt, names] {
        gtk_label_set_text(GTK_LABEL(prompt_), prompt.c_str());
        gtk_combo_box_text_remove_all(GTK_COMBO_BOX_TEXT(combo_));
        for (const std::string& name : names) {
          gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(combo_), name.c_str());
        }
        gtk_combo_box_set_active(GTK_COMBO_BOX(combo_), names.empty() ? -1 : 0);
        gtk_widget_show(prompt_);
        gtk_widget_show(gtk_widget_get_parent(combo_));
        gtk_widget_set_sensitive(combo_, TRUE);
        gtk_widget_set_sensitive(ok_, TRUE);
        gtk_widget_grab_default(ok_);
        gtk_widget_grab_focus(combo_);
        gtk_widget_hide(progress_);
        gtk_widget_hide(status_);
      },
      false);
}

void GtkDialogView::ShowProgress() {
  OnMain(
      [this] {
        gtk_widget_hide(prompt_);
        gtk_widget_hide(gtk_widget_get_parent(combo_));
        gtk_widget_set_sensitive(combo_, FALSE);
        gtk_widget_set_sensitive(ok_, FALSE);
        gtk_widget_show(progress_);
        gtk_widget_show(status_);
      },
      false);
}

void GtkDialogView::StartMarquee() {
  OnMain(
      [this] {
        gtk_widget_hide(progress_);
        gtk_widget_show(marquee_);
        if (pulseTimer_ == 0) pulseTimer_ = g_timeout_add(100, Pulse, this);
      },
      false);
}

gboolean GtkDialogView::Pulse(gpointer self) {
  gtk_progress_bar_pulse(GTK_PROGRESS_BAR(static_cast<GtkDialogView*>(self)->marquee_));
  return G_SOURCE_CONTINUE;
}

void GtkDialogView::ShowMessage(const std::string& text, const std::string& caption) {
  // Without a window (never shown, or already closed) the box has no owner.
  if (std::this_thread::get_id() != mainThread_ && !looping_) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    return;
  }
  OnMain(
      [this, text, caption] {
        GtkWidget* box =
            gtk_message_dialog_new(looping_ ? GTK_WINDOW(window_) : nullptr, GTK_DIALOG_MODAL,
                                   GTK_MESSAGE_ERROR, GTK_BUTTONS_OK, "%s", text.c_str());
        gtk_window_set_title(GTK_WINDOW(box), caption.c_str());
        gtk_dialog_run(GTK_DIALOG(box));
        gtk_widget_destroy(box);
      },
      true);
}

void GtkDialogView::Close() {
  OnMain(
      [this] {
        if (pulseTimer_ != 0) {
          g_source_remove(pulseTimer_);
          pulseTimer_ = 0;
        }
        if (looping_ && gtk_main_level() > 0) gtk_main_quit();
      },
      false);
}

void GtkDialogView::PressOk() {
  if (events_ == nullptr || !gtk_widget_get_sensitive(ok_) || !gtk_widget_get_visible(ok_)) return;
  events_->OnOk(gtk_combo_box_get_active(GTK_COMBO_BOX(combo_)));
}

void GtkDialogView::OnOkClicked(GtkButton*, gpointer self) {
  static_cast<GtkDialogView*>(self)->PressOk();
}

gboolean GtkDialogView::OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer self) {
  if (event->keyval == GDK_KEY_Return || event->keyval == GDK_KEY_KP_Enter) {
    static_cast<GtkDialogView*>(self)->PressOk();
    return TRUE;
  }
  if (event->keyval == GDK_KEY_Escape) {
    gtk_main_quit();
    return TRUE;
  }
  return FALSE;
}

gboolean GtkDialogView::OnDelete(GtkWidget*, GdkEvent*, gpointer) {
  // Closing the window ends the dialog; the window itself is destroyed with
  // the view.
  gtk_main_quit();
  return TRUE;
}

}  // namespace velmo
