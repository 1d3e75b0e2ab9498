#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "support/MapStringTable.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"
#include "velmo/app/BootstrapProgram.h"
#include "velmo/app/DialogView.h"
#include "velmo/app/i18n/Messages.h"

namespace velmo {
namespace {

namespace fs = std::filesystem;

// A window that is never expected to come up: the run must stop before it.
class RefusalView : public DialogView {
 public:
  void Run(DialogViewEvents&) override { ++runs; }
  void SetTitle(const std::string&) override {}
  void SetStatusText(const std::string&) override {}
  void SetProgress(int) override {}
  void ShowLanguageChoice(const std::string&, const std::vector<std::string>&) override {}
  void ShowProgress() override {}
  void StartMarquee() override {}
  void ShowMessage(const std::string& text, const std::string&) override {
    std::lock_guard<std::mutex> lock(mutex_);
    messages.push_back(text);
  }
  void Close() override {}

  int runs = 0;
  std::vector<std::string> messages;

 private:
  std::mutex mutex_;
};

test::MapStringTable Table(const std::string& host) {
  test::MapStringTable table;
  table.Set(102, host);
  table.Set(103, "dlpartner");
  table.Set(104, "partner");
  table.Set(105, "product");
  table.Set(106, "skin");
  table.Set(107, "downloader");
  table.Set(108, "Velmo Test");
  table.Set(109, "Velmo Folder");
  return table;
}

// A folder below the temporary folder that another user made beforehand, as
// each case sets it up, stops the run with the disk-write message before any
// request is made.
TEST(BootstrapProgramTest, AFolderAnotherUserControlsStopsTheRunBeforeAnyDownload) {
  const std::vector<std::string> cases = {"Orvanta", "Orvanta/Pellaris",
                                          "Orvanta/Pellaris/transfers", "Orvanta/Pellaris/logs"};
  for (const std::string& open : cases) {
    for (bool link : {false, true}) {
      test::TempDir temp;
      test::TestHttpServer host;
      if (link) {
        // A link in place of the folder, pointing at a private folder.
        fs::create_directories(temp / "target");
        fs::create_directories(fs::path(temp / open).parent_path());
        fs::create_directory_symlink(temp / "target", temp / open);
      } else {
        fs::create_directories(temp / open);
        fs::permissions(temp / open, fs::perms::all);
      }
      RefusalView view;
      RunBootstrap({"velmo-bootstrap"}, Table(host.Host()), view);
      EXPECT_EQ(view.runs, 0) << open << (link ? " (link)" : " (0777)");
      ASSERT_EQ(view.messages.size(), 1u) << open;
      EXPECT_EQ(view.messages[0], messages::kDiskWrite);
      EXPECT_TRUE(host.Requests().empty()) << open;
      EXPECT_FALSE(fs::exists(temp / "target/transfers"));
    }
  }
}

TEST(BootstrapProgramTest, FoldersAreMadePrivate) {
  test::TempDir temp;
  const mode_t old = ::umask(0022);
  RefusalView view;
  RunBootstrap({"velmo-bootstrap"}, Table("127.0.0.1:1"), view);
  ::umask(old);
  EXPECT_EQ(view.runs, 1);
  EXPECT_TRUE(view.messages.empty());
  for (const char* folder :
       {"Orvanta", "Orvanta/Pellaris", "Orvanta/Pellaris/transfers", "Orvanta/Pellaris/logs"}) {
    struct stat st {};
    ASSERT_EQ(::lstat((temp / folder).c_str(), &st), 0) << folder;
    EXPECT_EQ(st.st_mode & 07777, 0700u) << folder;
  }
}

}  // namespace
}  // namespace velmo
