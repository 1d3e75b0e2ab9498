#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "velmo/app/BootstrapSettings.h"
#include "velmo/app/DialogView.h"
#include "velmo/transfer/TransferError.h"
#include "velmo/transfer/TransferMonitorCallback.h"

namespace velmo {

class SimpleLocale;
class TransferFacade;
class TransferMonitorImpl;

// The bootstrapper's flow: an optional language choice, then the two
// downloads (the downloader program and its skin) with a progress bar and a
// remaining-time line, then the shortcut and the launch of the downloaded
// program, which the bootstrapper waits for. Every failure ends in one
// localized message box, after which the dialog closes.
//
// Threads: Run and the view's events on the main thread; the monitor's
// callbacks (and with them Launch and the message boxes) on the monitor's
// thread, one at a time. `mutex_` guards `running_`, `shown_` and `ended_`
// and is never held while the view is called.
class Dialog : public TransferMonitorCallback, public DialogViewEvents {
 public:
  // One dialog per process. Throws std::logic_error when one exists.
  static Dialog& CreateSingleton(DialogView& view, TransferFacade& engine,
                                 TransferMonitorImpl& monitor, SimpleLocale& locale,
                                 const BootstrapSettings& settings);
  // Throws std::logic_error before CreateSingleton.
  static Dialog& GetSingleton();
  // Ends the process-wide dialog (at the program's end, and between tests).
  static void DestroySingleton();

  Dialog(DialogView& view, TransferFacade& engine, TransferMonitorImpl& monitor,
         SimpleLocale& locale, BootstrapSettings settings);
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  // Shows the window; returns when it is closed. A second Run does nothing.
  void Run();
  void Close();
  // The translation of `messageId` in an error box, then Close.
  void ShowError(const std::string& messageId);
  void ShowMessage(const std::string& text);

  void OnProgress(const TransferStatus& status) override;
  void OnReady(const TransferStatus& status) override;
  void OnError(const TransferStatus& status) override;
  void OnFinished(const TransferStatus& status) override;

  void OnInitDialog() override;
  void OnOk(int selectedIndex) override;

  // The launched program's parameters as one string: ' /flag "value"' parts.
  std::string BuildLaunchArguments() const;
  // The same (flag, value) pairs as an argument vector.
  std::vector<std::string> BuildLaunchArgumentVector() const;
  // The message id shown for a transfer error code, given as its number (the
  // folder check that fails shows FileAccessError's).
  static std::string ErrorText(int code);
  static std::string ErrorText(TransferError error) { return ErrorText(static_cast<int>(error)); }
  // Checks the downloaded program against its package manifest, writes the
  // shortcut and runs the program until it exits. False when it could not be
  // started; FileCheckError, before anything is written or started, when the
  // file is not the one the manifest describes or cannot be read.
  bool Launch();
  // The error box's caption: the display name in the locale's language.
  static std::string ErrorCaption(const SimpleLocale& locale, const BootstrapSettings& settings);

 private:
  std::vector<std::pair<std::string, std::string>> LaunchPairs() const;
  std::string DisplayName() const;
  void SetTexts();
  void ShowLanguageChoice();
  void StartDownload();
  bool Ended();

  DialogView& view_;
  TransferFacade& engine_;
  TransferMonitorImpl& monitor_;
  SimpleLocale& locale_;
  const BootstrapSettings settings_;
  std::mutex mutex_;
  bool running_ = false;  // guarded by mutex_
  bool shown_ = false;    // the window is up and not closed; guarded by mutex_
  // Closed for good (by the user or by Close): later transfer events show no
  // further message box and launch nothing. Guarded by mutex_.
  bool ended_ = false;
  // Written by the main thread before the transfers exist, then read by the
  // monitor thread (the monitor's lock orders the two).
  std::string downloaderTransferId_;
  std::string skinTransferId_;
  // Monitor thread only.
  std::string downloaderRunPath_;
  std::string skinRunPath_;
  bool downloaderDone_ = false;
  bool skinDone_ = false;
};

}  // namespace velmo
