#include "velmo/app/ConsoleDialogView.h"

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>

namespace velmo {
namespace {

// How long Run and the language prompt wait before looking at the flag again.
constexpr std::chrono::milliseconds kInterruptPoll(50);

std::atomic<bool> gInterrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void OnInterruptSignal(int) { gInterrupted.store(true); }

}  // namespace

void ConsoleDialogView::CloseOnInterrupt() {
  gInterrupted.store(false);
  struct sigaction action {};
  action.sa_handler = OnInterruptSignal;
  sigemptyset(&action.sa_mask);
  // Restarted calls keep the engine's threads undisturbed wherever the
  // signal lands; the view polls the flag instead of waiting to be woken.
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

bool ConsoleDialogView::Interrupted() { return gInterrupted.load(); }

ConsoleDialogView::ConsoleDialogView(std::FILE* in, std::FILE* out, std::FILE* err)
    : in_(in),
      out_(out),
      err_(err),
      terminal_(::isatty(::fileno(out)) == 1),
      interactive_(::isatty(::fileno(in)) == 1) {}

void ConsoleDialogView::Run(DialogViewEvents& events) {
  if (Interrupted()) return;
  events.OnInitDialog();
  std::unique_lock<std::mutex> lock(mutex_);
  while (!closed_) {
    if (Interrupted()) {
      // As a closed window: the owner's teardown follows Run's return.
      EndLineLocked();
      closed_ = true;
      break;
    }
    if (pendingChoice_ >= -1) {
      // The language choice is answered on this thread, as a window's OK
      // button would be.
      const int choice = pendingChoice_;
      pendingChoice_ = -2;
      lock.unlock();
      events.OnOk(choice);
      lock.lock();
      continue;
    }
    changed_.wait_for(lock, kInterruptPoll);
  }
}

void ConsoleDialogView::SetTitle(const std::string& title) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (title == title_) return;
  title_ = title;
  EndLineLocked();
  std::fprintf(out_, "%s\n", title.c_str());
  std::fflush(out_);
}

void ConsoleDialogView::SetStatusText(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  status_ = text;
  DrawLocked();
}

void ConsoleDialogView::SetProgress(int percent) {
  std::lock_guard<std::mutex> lock(mutex_);
  percent_ = percent < 0 ? 0 : (percent > 100 ? 100 : percent);
  DrawLocked();
}

void ConsoleDialogView::ShowLanguageChoice(const std::string& prompt,
                                           const std::vector<std::string>& names) {
  int choice = names.empty() ? -1 : 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    EndLineLocked();
    std::fprintf(out_, "%s\n", prompt.c_str());
    for (std::size_t i = 0; i < names.size(); ++i) {
      std::fprintf(out_, "  %zu. %s%s\n", i + 1, names[i].c_str(), i == 0 ? " (default)" : "");
    }
    std::fflush(out_);
  }
  if (interactive_ && !names.empty()) {
    std::fprintf(out_, "Language [1-%zu]: ", names.size());
    std::fflush(out_);
    // Waits for the answer a little at a time, so that Ctrl-C at the prompt
    // ends the run instead of waiting for a line.
    pollfd input{::fileno(in_), POLLIN, 0};
    while (!Interrupted() && ::poll(&input, 1, static_cast<int>(kInterruptPoll.count())) == 0) {
    }
    char line[64];
    if (!Interrupted() && std::fgets(line, sizeof line, in_) != nullptr) {
      char* end = nullptr;
      const long picked = std::strtol(line, &end, 10);
      if (end != line && picked >= 1 && static_cast<std::size_t>(picked) <= names.size()) {
        choice = static_cast<int>(picked - 1);
      }
    }
  }
  std::lock_guard<std::mutex> lock(mutex_);
  pendingChoice_ = choice;
  changed_.notify_all();
}

void ConsoleDialogView::ShowProgress() {
  std::lock_guard<std::mutex> lock(mutex_);
  progressShown_ = true;
  if (percent_ < 0) percent_ = 0;
  DrawLocked();
}

void ConsoleDialogView::StartMarquee() {
  std::lock_guard<std::mutex> lock(mutex_);
  progressShown_ = false;
  EndLineLocked();
}

void ConsoleDialogView::ShowMessage(const std::string& text, const std::string& caption) {
  std::lock_guard<std::mutex> lock(mutex_);
  EndLineLocked();
  std::fprintf(err_, "%s: %s\n", caption.c_str(), text.c_str());
  std::fflush(err_);
}

void ConsoleDialogView::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  EndLineLocked();
  closed_ = true;
  changed_.notify_all();
}

void ConsoleDialogView::DrawLocked() {
  std::string line;
  if (progressShown_) {
    constexpr int kWidth = 30;
    std::string bar(static_cast<std::size_t>(percent_ * kWidth / 100), '#');
    bar.resize(kWidth, '.');
    line = "[" + bar + "] " + std::to_string(percent_) + "%  " + status_;
  } else {
    line = status_;
  }
  if (line == lastLine_) return;
  lastLine_ = line;
  if (terminal_) {
    std::fprintf(out_, "\r\033[K%s", line.c_str());
    lineOpen_ = true;
  } else {
    std::fprintf(out_, "%s\n", line.c_str());
  }
  std::fflush(out_);
}

void ConsoleDialogView::EndLineLocked() {
  if (lineOpen_) {
    std::fputc('\n', out_);
    lineOpen_ = false;
  }
}

}  // namespace velmo
