// The bootstrapper's flow with a scripted view: once end to end with the real
// engine against in-process servers, and its failure and language rules with
// a fake engine.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <sstream>
#include <thread>

#include "support/MapStringTable.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"
#include "support/TestPackage.h"
#include "velmo/app/BootstrapProgram.h"
#include "velmo/app/ConsoleDialogView.h"
#include "velmo/app/Dialog.h"
#include "velmo/app/i18n/CustomBoostLocale.h"
#include "velmo/app/i18n/EmbeddedMessageCatalog.h"
#include "velmo/app/i18n/LanguageTable.h"
#include "velmo/app/i18n/Messages.h"
#include "velmo/engine/TransferFacade.h"
#include "velmo/platform/BuildValues.h"
#include "velmo/transfer/TransferMonitorImpl.h"

namespace velmo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using test::ReadFile;

// Records what the dialog shows; Run returns on Close, or fails the test
// after a bound.
class FakeView : public DialogView {
 public:
  void Run(DialogViewEvents& events) override {
    events.OnInitDialog();
    std::unique_lock<std::mutex> lock(mutex_);
    while (!closed_) {
      if (pick_ >= -1 && choiceShown_) {
        const int pick = pick_;
        pick_ = -2;
        lock.unlock();
        events.OnOk(pick);
        lock.lock();
        continue;
      }
      if (changed_.wait_for(lock, 60s) == std::cv_status::timeout) {
        ADD_FAILURE() << "the dialog did not close";
        return;
      }
    }
  }
  void SetTitle(const std::string& title) override { Record(titles, title); }
  void SetStatusText(const std::string& text) override { Record(statuses, text); }
  void SetProgress(int percent) override {
    std::lock_guard<std::mutex> lock(mutex_);
    progress.push_back(percent);
  }
  void ShowLanguageChoice(const std::string&, const std::vector<std::string>& names) override {
    std::lock_guard<std::mutex> lock(mutex_);
    languageNames = names;
    choiceShown_ = true;
    changed_.notify_all();
  }
  void ShowProgress() override {}
  void StartMarquee() override {
    std::lock_guard<std::mutex> lock(mutex_);
    marquee = true;
  }
  void ShowMessage(const std::string& text, const std::string& caption) override {
    std::lock_guard<std::mutex> lock(mutex_);
    messages.emplace_back(caption, text);
  }
  void Close() override {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    changed_.notify_all();
  }
  void Pick(int index) { pick_ = index; }

  std::vector<std::string> titles, statuses, languageNames;
  std::vector<int> progress;
  std::vector<std::pair<std::string, std::string>> messages;
  bool marquee = false;

 private:
  void Record(std::vector<std::string>& list, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    list.push_back(text);
  }
  std::mutex mutex_;
  std::condition_variable changed_;
  bool closed_ = false;
  bool choiceShown_ = false;
  int pick_ = -2;
};

// The table of a build named "Velmo Test" fetching from `host`.
test::MapStringTable Table(const std::string& host) {
  test::MapStringTable table;
  if (!host.empty()) table.Set(102, host);
  table.Set(103, "dlpartner");
  table.Set(104, "partner");
  table.Set(105, "product");
  table.Set(106, "skin");
  table.Set(107, "downloader");
  table.Set(108, "Velmo Test");
  table.Set(109, "Velmo Folder");
  return table;
}

class DialogFlowTest : public ::testing::Test {
 protected:
  DialogFlowTest() {
    downloader_.partnerId = "dlpartner";
    downloader_.packageId = "downloader";
    downloader_.run = "bin/run.sh";
    downloader_.files["bin/run.sh"] =
        "#!/bin/sh\n: > \"$VELMO_TEST_RECORD\"\n"
        "for a in \"$@\"; do printf '%s\\n' \"$a\" >> \"$VELMO_TEST_RECORD\"; done\n";
    downloader_.AddFile("data/payload.bin", 50000, 7);
    skin_.partnerId = "partner";
    skin_.packageId = "skin";
    skin_.run = "skin.ini";
    skin_.files["skin.ini"] = "[skin]\n";
    env_.Set("VELMO_TEST_RECORD", (temp_ / "received.txt").c_str());
  }

  test::TempDir temp_;
  test::ScopedEnv env_;
  test::TestHttpServer manifests_;
  test::TestHttpServer node_;
  test::TestPackage downloader_;
  test::TestPackage skin_;
};

TEST_F(DialogFlowTest, DownloadsBothPackagesAndLaunchesTheProgram) {
  downloader_.Serve(manifests_, {&node_});
  skin_.Serve(manifests_, {&node_});
  FakeView view;
  const auto table = Table(manifests_.Host());
  EXPECT_EQ(RunBootstrap({"/opt/velmo-bootstrap", "packageVersion=7"}, table, view), 0);

  EXPECT_TRUE(view.messages.empty()) << view.messages.front().second;
  ASSERT_FALSE(view.titles.empty());
  EXPECT_EQ(view.titles.front(), "Velmo Test Downloader");
  EXPECT_EQ(view.statuses.front(), "Calculating time remaining");
  EXPECT_EQ(view.statuses.back(), "Launching Velmo Test Downloader");
  EXPECT_TRUE(view.marquee);
  // The launched program received exactly the designed parameters, one
  // argument per flag and value.
  EXPECT_EQ(ReadFile(temp_ / "received.txt"),
            "/host\n" + manifests_.Host() +
                "\n/id\npartner\n/package\nproduct\n/name\nVelmo Test\n/folder\nVelmo "
                "Folder\n/version\n7\n/skin\nskin/skin.ini\n");
  const std::string work = temp_ / "Orvanta/Pellaris";
  EXPECT_TRUE(ReadFile(work + "/data/payload.bin") == downloader_.files["data/payload.bin"]);
  EXPECT_EQ(ReadFile(work + "/skin/skin.ini"), "[skin]\n");
  EXPECT_TRUE(fs::exists(work + "/shortcuts/product.url"));
}

TEST_F(DialogFlowTest, ATransferErrorShowsItsMessageAndCloses) {
  skin_.Serve(manifests_, {&node_});  // the downloader's manifest is missing
  FakeView view;
  const auto table = Table(manifests_.Host());
  RunBootstrap({"/opt/velmo-bootstrap"}, table, view);
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].first, "Velmo Test Downloader Error");
  EXPECT_EQ(view.messages[0].second, "An unexpected error occurred. Please visit " +
                                         std::string(build::kSupportHost) +
                                         " for further assistance.");
  EXPECT_FALSE(fs::exists(temp_ / "received.txt"));
}

// Ctrl-C in the console closes the dialog as the window's close box does:
// the run ends through its own teardown, which suspends the transfers (kept
// for a later run) and writes the work log out, instead of dying mid-way.
TEST_F(DialogFlowTest, CtrlCInTheConsoleSuspendsTheTransfersAndWritesTheLog) {
  downloader_.Serve(manifests_, {&node_});
  skin_.Serve(manifests_, {&node_});
  const std::string payload = downloader_.NodePath("data/payload.bin");
  node_.SetThrottle(payload, 2000);  // 25 s for the whole payload
  const auto table = Table(manifests_.Host());
  std::FILE* in = std::tmpfile();
  std::FILE* out = std::tmpfile();
  ConsoleDialogView::CloseOnInterrupt();
  ConsoleDialogView view(in, out, out);
  auto run = std::async(std::launch::async, [&] {
    return RunBootstrap({"/opt/velmo-bootstrap", "log=-1"}, table, view);
  });
  const auto until = std::chrono::steady_clock::now() + 30s;
  while (node_.BytesServed(payload) == 0 && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_GT(node_.BytesServed(payload), 0u) << "the download never started";
  ASSERT_EQ(::kill(::getpid(), SIGINT), 0);
  ASSERT_EQ(run.wait_for(60s), std::future_status::ready) << "the run did not end";
  EXPECT_EQ(run.get(), 0);
  std::fclose(in);
  std::fclose(out);

  EXPECT_FALSE(fs::exists(temp_ / "received.txt")) << "nothing is launched";
  std::string log;
  for (const auto& entry : fs::directory_iterator(temp_ / "Orvanta/Pellaris/logs")) {
    log += ReadFile(entry.path().string());
  }
  EXPECT_NE(log.find("\"event\":\"Suspend\""), std::string::npos) << log.substr(0, 3000);
  int stored = 0;
  for (const auto& entry : fs::directory_iterator(temp_ / "Orvanta/Pellaris/transfers")) {
    stored += entry.path().extension() == ".json" ? 1 : 0;
  }
  EXPECT_GE(stored, 1) << "the unfinished transfer is kept for the next run";
}

// An engine that hands out two ids and remembers what it was asked.
class FakeEngine : public TransferFacade {
 public:
  TransferStatus CreateTransfer(const std::string& partnerId, const std::string& packageId,
                                const std::string& versionId) override {
    created.push_back(partnerId + "/" + packageId + "/" + versionId);
    TransferStatus status;
    status.transferId = created.size() == 1 ? "d" : "s";
    status.state = TransferState::Initializing;
    return status;
  }
  TransferStatus StartTransfer(const std::string& transferId, const std::string& folder) override {
    started.push_back(transferId + ">" + folder);
    return TransferStatus();
  }
  TransferStatus GetTransferStatus(const std::string& transferId) override {
    TransferStatus status;
    status.transferId = transferId;
    status.state = TransferState::Transferring;
    return status;
  }
  std::shared_ptr<const PackageManifest> GetPackageManifest(const std::string& id) override {
    return id == "d" ? downloader : nullptr;
  }
  std::vector<std::string> created, started;
  std::shared_ptr<const PackageManifest> downloader;
};

TransferStatus Completed(const std::string& id, const std::string& runPath) {
  TransferStatus status;
  status.transferId = id;
  status.state = TransferState::Completed;
  status.runPath = runPath;
  return status;
}

class DialogRulesTest : public ::testing::Test {
 protected:
  test::TempDir temp_;
  FakeEngine engine_;
  TransferMonitorImpl monitor_{&engine_};
  static EmbeddedMessageCatalog& Catalog() {
    static EmbeddedMessageCatalog catalog("updater");
    static const bool tableAdded = (AddLanguageTable(catalog), true);
    (void)tableAdded;
    return catalog;
  }
  CustomBoostLocale locale_{Catalog(), ""};
  FakeView view_;

  // The downloader's package holding `listed` as its program bin/program,
  // and `onDisk` at the place the program is started from.
  void PlaceProgram(const std::string& listed, const std::string& onDisk, fs::perms perms) {
    test::TestPackage package;
    package.run = "bin/program";
    package.files[package.run] = listed;
    engine_.downloader = package.Manifest();
    const fs::path path = temp_ / "Orvanta/Pellaris/bin/program";
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << onDisk;
    fs::permissions(path, perms);
  }
};

TEST_F(DialogRulesTest, LanguageChoiceSwitchesTextsPackagesAndParameters) {
  auto table = Table("");
  table.Set(129, "en=English;de=Deutsch");
  table.Set(130, "en");
  table.Set(106, "en=skin-en;de=skin-de");
  table.Set(105, "en=product-en;de=product-de");
  table.Set(108, "en=Velmo Test;de=Velmo Test DE");
  table.Set(109, "en=Velmo Folder;de=Velmo Ordner");
  const BootstrapSettings settings(table, std::vector<std::string>{"/b", "log=3"});
  locale_.SetLanguage(settings.InitialLanguage());
  Dialog dialog(view_, engine_, monitor_, locale_, settings);
  dialog.OnInitDialog();
  EXPECT_EQ(view_.languageNames, (std::vector<std::string>{"English", "Deutsch"}));
  dialog.OnOk(1);
  EXPECT_EQ(locale_.GetLanguage(), "de");
  EXPECT_EQ(view_.titles.front(), "Velmo Test Downloader");
  EXPECT_EQ(view_.titles.back(), "Velmo Test DE-Downloader") << "German texts after the choice";
  EXPECT_EQ(engine_.created,
            (std::vector<std::string>{"dlpartner/downloader/?", "partner/skin-de/?"}));
  dialog.OnReady(Completed("s", ""));
  EXPECT_EQ(engine_.started.back(), "s>" + (temp_ / "Orvanta/Pellaris/skin-de"));
  EXPECT_EQ(dialog.BuildLaunchArguments(),
            " /id \"partner\" /package \"product-de\" /name \"Velmo Test DE\" /folder \"Velmo "
            "Ordner\" /locale \"de\" /log \"3\"");
}

TEST_F(DialogRulesTest, LaunchArgumentsAndFailures) {
  auto table = Table("host:1");
  table.Set(108, "Say \"hi\"");
  const BootstrapSettings settings(table, std::vector<std::string>{"/b", "packageVersion=7"});
  PlaceProgram("data", "data", fs::perms::owner_read | fs::perms::owner_write);
  Dialog dialog(view_, engine_, monitor_, locale_, settings);
  dialog.OnInitDialog();
  EXPECT_EQ(engine_.created.size(), 2u);  // no language list: the download starts at once
  // A quotation mark is passed on as it is.
  EXPECT_EQ(dialog.BuildLaunchArguments(),
            " /host \"host:1\" /id \"partner\" /package \"product\" /name \"Say \"hi\"\" /folder "
            "\"Velmo Folder\" /version \"7\"");

  // The skin completing first launches nothing; then the downloader completes
  // with a program that passes its check but may not be executed: the
  // launch failure message.
  dialog.OnFinished(Completed("s", "skin.ini"));
  EXPECT_FALSE(view_.marquee);
  dialog.OnFinished(Completed("d", "bin/program"));
  EXPECT_TRUE(view_.marquee);
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0].second,
            "The Say \"hi\" Downloader could not be launched. Please visit " +
                std::string(build::kSupportHost) + " for further assistance.");
  EXPECT_EQ(dialog.BuildLaunchArgumentVector().back(), "skin/skin.ini");

  // Error codes map to their texts.
  EXPECT_EQ(Dialog::ErrorText(2), messages::kConnectionError);
  EXPECT_EQ(Dialog::ErrorText(7), messages::kDiskWrite);
  EXPECT_EQ(Dialog::ErrorText(6), messages::UnexpectedError());
  EXPECT_EQ(Dialog::ErrorText(TransferError::FileAccessError), messages::kDiskWrite);
  EXPECT_EQ(Dialog::ErrorText(TransferError::InsufficientDiskSpace), messages::kDiskFull);
}

TEST_F(DialogRulesTest, AProgramChangedSinceItsDownloadIsNotStarted) {
  const std::string script = "#!/bin/sh\ntouch \"$0.ran\" # ";
  PlaceProgram(script + "A\n", script + "B\n", fs::perms::owner_all);
  const BootstrapSettings settings(Table(""), std::vector<std::string>{});
  Dialog dialog(view_, engine_, monitor_, locale_, settings);
  dialog.OnInitDialog();
  dialog.OnFinished(Completed("s", "skin.ini"));
  dialog.OnFinished(Completed("d", "bin/program"));
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0].second, locale_.Translate(messages::UnexpectedError()));
  EXPECT_FALSE(fs::exists(temp_ / "Orvanta/Pellaris/bin/program.ran"));
}

TEST_F(DialogRulesTest, NothingHappensOnceTheWindowHasClosed) {
  const BootstrapSettings settings(Table(""), std::vector<std::string>{});
  Dialog dialog(view_, engine_, monitor_, locale_, settings);
  dialog.OnInitDialog();
  TransferStatus failed = Completed("d", "");
  failed.state = TransferState::Canceled;
  failed.error = TransferError::ConnectionError;
  dialog.OnError(failed);
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0].second, locale_.Translate(messages::kConnectionError));

  // The skin failing too adds no second box; a late completion of both
  // launches nothing and starts no transfer.
  failed.transferId = "s";
  dialog.OnError(failed);
  dialog.OnReady(Completed("s", ""));
  dialog.OnFinished(Completed("d", "program"));
  dialog.OnFinished(Completed("s", "skin.ini"));
  EXPECT_EQ(view_.messages.size(), 1u);
  EXPECT_FALSE(view_.marquee);
  EXPECT_TRUE(engine_.started.empty());
}

TEST_F(DialogRulesTest, OneDialogPerProcess) {
  const BootstrapSettings settings(Table(""), std::vector<std::string>{});
  EXPECT_THROW(Dialog::GetSingleton(), std::logic_error);
  Dialog& dialog = Dialog::CreateSingleton(view_, engine_, monitor_, locale_, settings);
  EXPECT_EQ(&Dialog::GetSingleton(), &dialog);
  EXPECT_THROW(Dialog::CreateSingleton(view_, engine_, monitor_, locale_, settings),
               std::logic_error);
  Dialog::DestroySingleton();
}

TEST(ConsoleDialogViewTest, PlainLinesWithoutATerminal) {
  std::FILE* in = std::tmpfile();
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  ConsoleDialogView view(in, out, err);
  view.SetTitle("T Downloader");
  view.ShowProgress();
  view.SetProgress(50);
  view.SetStatusText("1 minute remaining");
  view.SetStatusText("1 minute remaining");  // unchanged: no new line
  view.ShowMessage("Broken.", "T Downloader Error");
  const auto contents = [](std::FILE* file) {
    std::rewind(file);
    std::string text;
    for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
    return text;
  };
  EXPECT_EQ(contents(out),
            "T Downloader\n[..............................] 0%  \n"
            "[###############...............] 50%  \n"
            "[###############...............] 50%  1 minute remaining\n");
  EXPECT_EQ(contents(err), "T Downloader Error: Broken.\n");
  std::fclose(in);
  std::fclose(out);
  std::fclose(err);
}

}  // namespace
}  // namespace velmo

namespace velmo {
namespace {

// A window that, once up, hands its thread to the test instead of waiting.
class ScriptedView : public FakeView {
 public:
  std::function<void()> whileShown;
  void Run(DialogViewEvents& events) override {
    events.OnInitDialog();
    if (whileShown) whileShown();
  }
};

TEST_F(DialogRulesTest, OnlyTheDownloaderMovesTheBarWithATruncatedPercent) {
  ScriptedView view;
  const BootstrapSettings settings(Table(""), std::vector<std::string>{});
  Dialog dialog(view, engine_, monitor_, locale_, settings);
  const auto status = [](const std::string& id, std::uint64_t done, std::uint64_t total) {
    TransferStatus s;
    s.transferId = id;
    s.state = TransferState::Transferring;
    s.progressBytes = done;
    s.totalBytes = total;
    return s;
  };
  view.whileShown = [&] {
    dialog.OnProgress(status("d", 999, 1000));  // 99.9% is 99, never rounded up to 100
    dialog.OnProgress(status("s", 500, 1000));  // the skin does not move the bar
    dialog.OnProgress(status("d", 0, 0));       // nothing known yet: 0
    TransferStatus failed = status("d", 700, 1000);
    failed.error = TransferError::ConnectionError;
    dialog.OnProgress(failed);  // a failed transfer leaves the bar where it was
  };
  dialog.Run();
  dialog.OnProgress(status("d", 330, 1000));  // the window is gone
  // The monitor may report the fake engine's empty totals (0) at any time.
  const std::vector<int> shown = view.progress;
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.front(), 99);
  for (int percent : shown) EXPECT_TRUE(percent == 99 || percent == 0) << percent;
  EXPECT_NE(std::find(shown.begin() + 1, shown.end(), 0), shown.end());
}

TEST_F(DialogRulesTest, EveryErrorCodeHasItsMessage) {
  EXPECT_EQ(Dialog::ErrorText(3), messages::kOutOfMemory);
  EXPECT_EQ(Dialog::ErrorText(4), messages::kDiskFull);
  EXPECT_EQ(Dialog::ErrorText(5), messages::kDiskWrite);  // also the folder check's code
  EXPECT_EQ(Dialog::ErrorText(0), messages::UnexpectedError());
  EXPECT_EQ(Dialog::ErrorText(-1), messages::UnexpectedError());
}

}  // namespace
}  // namespace velmo

namespace velmo {
namespace {

TEST_F(DialogRulesTest, AFolderThatCannotBeMadeShowsTheDiskWriteBoxAndStartsNothing) {
  // A file where the downloads' folder should be; the skin's folder below it
  // cannot be made either.
  std::ofstream(temp_ / "Orvanta") << "in the way";
  const BootstrapSettings settings(Table(""), std::vector<std::string>{});
  Dialog dialog(view_, engine_, monitor_, locale_, settings);
  dialog.OnInitDialog();
  dialog.OnReady(Completed("d", ""));
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0].second, locale_.Translate(messages::kDiskWrite));
  EXPECT_TRUE(engine_.started.empty());
  // The skin's folder fails the same way; the dialog has closed, so no
  // second box.
  dialog.OnReady(Completed("s", ""));
  EXPECT_EQ(view_.messages.size(), 1u);
  EXPECT_TRUE(engine_.started.empty());
}

}  // namespace
}  // namespace velmo
