#include "velmo/app/ConsoleDialogView.h"

#include <unistd.h>

#include <cstdlib>

namespace velmo {

ConsoleDialogView::ConsoleDialogView(std::FILE* in, std::FILE* out, std::FILE* err)
    : in_(in),
      out_(out),
      err_(err),
      terminal_(::isatty(::fileno(out)) == 1),
      interactive_(::isatty(::fileno(in)) == 1) {}

void ConsoleDialogView::Run(DialogViewEvents& events) {
  events.OnInitDialog();
  std::unique_lock<std::mutex> lock(mutex_);
  while (!closed_) {
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
    changed_.wait(lock);
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
    char line[64];
    if (std::fgets(line, sizeof line, in_) != nullptr) {
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
