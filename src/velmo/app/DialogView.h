#pragma once

#include <string>
#include <vector>

namespace velmo {

// What the dialog's window reports back. Called on the thread that runs the
// view's Run.
class DialogViewEvents {
 public:
  virtual ~DialogViewEvents() = default;
  // The window is up.
  virtual void OnInitDialog() = 0;
  // OK (or Enter) in the language choice; the selected entry's index, or -1.
  virtual void OnOk(int selectedIndex) = 0;
};

// The bootstrapper's one window, as the dialog's logic sees it. Run blocks the
// calling thread (the main thread) until Close or until the user closes the
// window. Every other operation may be called from any thread while Run
// runs; a toolkit view hands them to its own thread.
class DialogView {
 public:
  virtual ~DialogView() = default;
  virtual void Run(DialogViewEvents& events) = 0;
  virtual void SetTitle(const std::string& title) = 0;
  // The remaining-time line.
  virtual void SetStatusText(const std::string& text) = 0;
  // The progress bar, 0 to 100.
  virtual void SetProgress(int percent) = 0;
  // The prompt, the language names in order with the first selected, and OK;
  // the progress bar and the status line are hidden.
  virtual void ShowLanguageChoice(const std::string& prompt,
                                  const std::vector<std::string>& names) = 0;
  // The progress bar and the status line; the language choice is hidden.
  virtual void ShowProgress() = 0;
  // A moving bar in place of the progress bar, while the program launches.
  virtual void StartMarquee() = 0;
  // An error box; returns when the user has dismissed it.
  virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;
  // Ends Run. Harmless when Run has ended already.
  virtual void Close() = 0;
};

}  // namespace velmo
