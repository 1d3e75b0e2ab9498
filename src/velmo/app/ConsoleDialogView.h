#pragma once

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>

#include "velmo/app/DialogView.h"

namespace velmo {

// The dialog without a display: progress as a one-line bar with the
// remaining-time text on a terminal (a plain line per change otherwise), the
// language choice as a numbered prompt when the input is a terminal (the
// first language otherwise), error boxes on standard error.
//
// Threads: Run blocks its thread on `mutex_`/`closed_`; the other operations
// come from any thread and write under `mutex_`. Run also wakes every
// kInterruptPoll to see whether an interrupt (CloseOnInterrupt) came: a signal
// handler may do no more than set an atomic flag.
class ConsoleDialogView : public DialogView {
 public:
  ConsoleDialogView(std::FILE* in = stdin, std::FILE* out = stdout, std::FILE* err = stderr);

  // From now on Ctrl-C (SIGINT) and SIGTERM close the view as closing the
  // window would: Run returns and the program's own teardown runs (transfers
  // suspended, the work log written out). A signal that comes before Run
  // makes Run return without showing anything; later ones are absorbed, so a
  // second Ctrl-C cannot cut the teardown short. Process-wide; the
  // handlers stay for the rest of the process.
  static void CloseOnInterrupt();
  // Whether such a signal came since CloseOnInterrupt.
  static bool Interrupted();

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

 private:
  void DrawLocked();  // with mutex_ held
  void EndLineLocked();

  std::FILE* const in_;
  std::FILE* const out_;
  std::FILE* const err_;
  const bool terminal_;
  const bool interactive_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool closed_ = false;
  int pendingChoice_ = -2;  // -2: none asked; else the index chosen
  std::string title_;
  std::string status_;
  int percent_ = -1;
  bool progressShown_ = false;
  bool lineOpen_ = false;
  std::string lastLine_;
};

}  // namespace velmo
