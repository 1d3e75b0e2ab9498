#include "velmo/app/Dialog.h"

#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "velmo/app/KeyValueList.h"
#include "velmo/app/i18n/Messages.h"
#include "velmo/app/i18n/SimpleLocale.h"
#include "velmo/app/platform/PosixProcess.h"
#include "velmo/app/platform/UrlShortcut.h"
#include "velmo/engine/FileManifestCheck.h"
#include "velmo/engine/TransferFacade.h"
#include "velmo/engine/UnspecifiedVersion.h"
#include "velmo/file/PosixSharedFileFactory.h"
#include "velmo/manifest/PackageManifest.h"
#include "velmo/platform/PrivateFolder.h"
#include "velmo/platform/System.h"
#include "velmo/transfer/TransferMonitorImpl.h"

namespace velmo {
namespace {

std::unique_ptr<Dialog>& SingletonOwner() {
  static std::unique_ptr<Dialog> owner;
  return owner;
}

std::mutex& SingletonMutex() {
  static std::mutex mutex;
  return mutex;
}

// True when the folder exists or could be made with its missing parents, and
// - below the temporary folder - is the user's alone (see MakePrivateFolders):
// the downloaded program is started from there.
bool EnsureFolder(const std::string& folder) {
  try {
    MakePrivateFolderPath(folder);
    return true;
  } catch (const UnsafeFolderError&) {
    return false;
  }
}

constexpr char kLanguagePrompt[] = "Please select the language for your download:";

// A TransferError as the number ErrorText is given.
constexpr int ErrorCode(TransferError error) { return static_cast<int>(error); }

}  // namespace

Dialog& Dialog::CreateSingleton(DialogView& view, TransferFacade& engine,
                                TransferMonitorImpl& monitor, SimpleLocale& locale,
                                const BootstrapSettings& settings) {
  std::lock_guard<std::mutex> lock(SingletonMutex());
  if (SingletonOwner()) throw std::logic_error("Dialog::CreateSingleton called multiple times");
  SingletonOwner() = std::make_unique<Dialog>(view, engine, monitor, locale, settings);
  return *SingletonOwner();
}

Dialog& Dialog::GetSingleton() {
  std::lock_guard<std::mutex> lock(SingletonMutex());
  if (!SingletonOwner()) {
    throw std::logic_error("Dialog::GetSingleton called without CreateSingleton");
  }
  return *SingletonOwner();
}

void Dialog::DestroySingleton() {
  std::lock_guard<std::mutex> lock(SingletonMutex());
  SingletonOwner().reset();
}

Dialog::Dialog(DialogView& view, TransferFacade& engine, TransferMonitorImpl& monitor,
               SimpleLocale& locale, BootstrapSettings settings)
    : view_(view),
      engine_(engine),
      monitor_(monitor),
      locale_(locale),
      settings_(std::move(settings)) {}

std::string Dialog::DisplayName() const { return settings_.GetDisplayName(locale_.GetLanguage()); }

void Dialog::Run() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_ || ended_) return;
    running_ = true;
  }
  view_.Run(*this);
  std::lock_guard<std::mutex> lock(mutex_);
  shown_ = false;
  ended_ = true;
}

void Dialog::Close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
    if (!running_ || !shown_) return;
    shown_ = false;
  }
  view_.Close();
}

bool Dialog::Ended() {
  std::lock_guard<std::mutex> lock(mutex_);
  return ended_;
}

void Dialog::ShowError(const std::string& messageId) { ShowMessage(locale_.Translate(messageId)); }

void Dialog::ShowMessage(const std::string& text) {
  view_.ShowMessage(text, ErrorCaption(locale_, settings_));
  Close();
}

std::string Dialog::ErrorCaption(const SimpleLocale& locale, const BootstrapSettings& settings) {
  return locale.Format(messages::kErrorCaption, settings.GetDisplayName(locale.GetLanguage()));
}

std::string Dialog::ErrorText(int code) {
  switch (code) {
    case ErrorCode(TransferError::ConnectionError):
      return messages::kConnectionError;
    case ErrorCode(TransferError::OutOfMemory):
      return messages::kOutOfMemory;
    case ErrorCode(TransferError::InsufficientDiskSpace):
      return messages::kDiskFull;
    case ErrorCode(TransferError::FileAccessError):
    case ErrorCode(TransferError::FileError):
      return messages::kDiskWrite;
    default:
      return messages::UnexpectedError();
  }
}

// ---------------------------------------------------------------------------
// The window's side (main thread)

void Dialog::OnInitDialog() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    shown_ = true;
  }
  SetTexts();
  if (settings_.GetLanguages().empty()) {
    StartDownload();
  } else {
    ShowLanguageChoice();
  }
}

void Dialog::OnOk(int selectedIndex) {
  const KeyValueList languages = settings_.GetLanguages();
  if (selectedIndex >= 0 && static_cast<std::size_t>(selectedIndex) < languages.size()) {
    locale_.SetLanguage(languages[static_cast<std::size_t>(selectedIndex)].first);
  }
  SetTexts();
  StartDownload();
}

void Dialog::SetTexts() {
  view_.SetTitle(locale_.Format(messages::kTitle, DisplayName()));
  view_.SetStatusText(locale_.RemainingTimeText(-1));
}

void Dialog::ShowLanguageChoice() {
  std::vector<std::string> names;
  for (const auto& [code, name] : settings_.GetLanguages()) names.push_back(name);
  view_.ShowLanguageChoice(locale_.Translate(kLanguagePrompt), names);
}

void Dialog::StartDownload() {
  view_.ShowProgress();
  const std::string language = locale_.GetLanguage();
  downloaderTransferId_ =
      engine_
          .CreateTransfer(settings_.GetDownloaderPartnerId(), settings_.GetDownloaderPackageId(),
                          UnspecifiedVersion)
          .transferId;
  skinTransferId_ =
      engine_
          .CreateTransfer(settings_.GetPartnerId(), settings_.GetSkinPackageId(language),
                          settings_.GetSkinVersion())
          .transferId;
  monitor_.Watch(downloaderTransferId_, this);
  monitor_.Watch(skinTransferId_, this);
}

// ---------------------------------------------------------------------------
// The monitor's side

void Dialog::OnProgress(const TransferStatus& status) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_ || !shown_ || status.transferId != downloaderTransferId_ ||
        status.state != TransferState::Transferring || status.error != TransferError::None) {
      return;
    }
  }
  const int percent = status.totalBytes == 0
                          ? 0
                          : static_cast<int>(static_cast<double>(status.progressBytes) * 100.0 /
                                             static_cast<double>(status.totalBytes));
  view_.SetProgress(percent);
  view_.SetStatusText(locale_.RemainingTimeText(status.secondsRemaining));
}

void Dialog::OnReady(const TransferStatus& status) {
  if (Ended()) return;
  const std::string folder = status.transferId == skinTransferId_
                                 ? settings_.GetSkinDestination(locale_.GetLanguage())
                                 : settings_.GetWorkFolder();
  if (EnsureFolder(folder)) {
    engine_.StartTransfer(status.transferId, folder);
    monitor_.Watch(status.transferId, this);
  } else {
    ShowError(ErrorText(TransferError::FileAccessError));
  }
}

void Dialog::OnError(const TransferStatus& status) { OnFinished(status); }

void Dialog::OnFinished(const TransferStatus& status) {
  // Both transfers may fail (a lost connection usually stops both): one
  // message box is enough, and nothing is launched once the window is gone.
  if (Ended()) return;
  if (status.transferId == downloaderTransferId_) {
    if (status.error != TransferError::None) {
      ShowError(ErrorText(status.error));
    } else if (status.state == TransferState::Completed) {
      downloaderDone_ = true;
      downloaderRunPath_ = status.runPath;
    }
  }
  if (status.transferId == skinTransferId_) {
    if (status.error != TransferError::None) {
      ShowError(ErrorText(status.error));
    } else if (status.state == TransferState::Completed) {
      skinDone_ = true;
      skinRunPath_ = status.runPath;
    }
  }
  if (downloaderDone_ && skinDone_) {
    try {
      if (Launch()) {
        Close();
      } else {
        ShowMessage(locale_.Format(messages::LaunchFailed(), DisplayName()));
      }
    } catch (const FileCheckError& error) {
      ShowError(ErrorText(error.Error()));
    }
  }
}

// ---------------------------------------------------------------------------
// Launching

std::vector<std::pair<std::string, std::string>> Dialog::LaunchPairs() const {
  const std::string language = locale_.GetLanguage();
  std::vector<std::pair<std::string, std::string>> pairs;
  if (!settings_.GetHost().empty()) pairs.emplace_back("/host", settings_.GetHost());
  if (!settings_.GetPartnerId().empty()) pairs.emplace_back("/id", settings_.GetPartnerId());
  pairs.emplace_back("/package", settings_.GetProductPackageId(language));
  pairs.emplace_back("/name", DisplayName());
  pairs.emplace_back("/folder", settings_.GetProductFolder(language));
  if (!language.empty()) pairs.emplace_back("/locale", language);
  if (settings_.GetPackageVersion() != UnspecifiedVersion) {
    pairs.emplace_back("/version", settings_.GetPackageVersion());
  }
  if (!skinRunPath_.empty()) {
    pairs.emplace_back("/skin", JoinPath(settings_.GetSkinPackageId(language), skinRunPath_));
  }
  if (settings_.GetLogMask() != -9)
    pairs.emplace_back("/log", std::to_string(settings_.GetLogMask()));
  return pairs;
}

std::string Dialog::BuildLaunchArguments() const {
  std::string text;
  for (const auto& [flag, value] : LaunchPairs())
    text.append(" ").append(flag).append(" \"").append(value).append("\"");
  return text;
}

std::vector<std::string> Dialog::BuildLaunchArgumentVector() const {
  std::vector<std::string> arguments;
  for (const auto& [flag, value] : LaunchPairs()) {
    arguments.push_back(flag);
    arguments.push_back(value);
  }
  return arguments;
}

bool Dialog::Launch() {
  view_.StartMarquee();
  view_.SetStatusText(locale_.Format(messages::kLaunching, DisplayName()));
  // The one downloaded file that gets executed is read back and checked
  // against its manifest first: its chunks were verified as they were
  // written, but the file has been on disk since, where anything of the
  // user's may have changed it. A program that fails is not started; the next
  // run's transfer verifies every chunk on disk again and fetches the bad ones.
  PosixSharedFileFactory files;
  const std::shared_ptr<const PackageManifest> package =
      engine_.GetPackageManifest(downloaderTransferId_);
  const std::shared_ptr<const FileManifest> program = package ? package->GetRunFile() : nullptr;
  if (!program || program->GetPath() != downloaderRunPath_) {
    throw FileCheckError(TransferError::UnexpectedError,
                         "no manifest entry for the program " + downloaderRunPath_);
  }
  CheckFileAgainstManifest(files, settings_.GetWorkFolder(), *program);
  // The shortcut leads back to the bootstrapper; its failure does not stop
  // the launch.
  UrlShortcut shortcut(settings_.GetProductPackageId(locale_.GetLanguage()),
                       JoinPath(settings_.GetWorkFolder(), "shortcuts"), &files);
  shortcut.Create(settings_.GetProgramPath());
  try {
    PosixProcess process(JoinPath(settings_.GetWorkFolder(), downloaderRunPath_));
    return process.Launch(true, BuildLaunchArgumentVector(), std::string());
  } catch (...) {
    return false;
  }
}

}  // namespace velmo
