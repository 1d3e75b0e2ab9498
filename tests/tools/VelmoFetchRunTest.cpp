// velmo-fetch, the real program: what it offers when a run ends before its
// transfer was stored, how it names a stored transfer it cannot read, and the
// locks that keep two runs out of one folder or one transfer.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "FetchRecord.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"
#include "support/TestPackage.h"

namespace velmo {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;

constexpr int kExitSuspended = 65;
constexpr int kExitBusy = 68;
constexpr int kExitUnreadableTransfer = 69;
constexpr char kTransfers[] = "Orvanta/Pellaris/transfers";

class VelmoFetchRunTest : public ::testing::Test {
 protected:
  VelmoFetchRunTest() {
    package_.AddFile("a.bin", 5000, 1);
    package_.Serve(manifests_, {&node_});
  }

  // Starts velmo-fetch with TMPDIR set to the test's folder, its output in
  // the files out and err there.
  pid_t Start(std::vector<std::string> args) {
    const std::string program = std::string(VELMO_BINARY_DIR) + "/tools/velmo-fetch/velmo-fetch";
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::string tmpdir = "TMPDIR=" + tmp_.path();
    std::string path = "PATH=/usr/bin:/bin";
    char* envp[] = {tmpdir.data(), path.data(), nullptr};
    const std::string out = tmp_ / "out", err = tmp_ / "err";
    const pid_t child = ::fork();
    if (child == 0) {
      ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
      ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
      ::execve(program.c_str(), argv.data(), envp);
      ::_exit(127);
    }
    return child;
  }

  // The exit status; -1 for a run that did not exit (a signal).
  static int Wait(pid_t child) {
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
  }

  std::vector<std::string> NewRun(const std::string& host) const {
    return {"--host",           host,     "--partner",  package_.partnerId, "--package",
            package_.packageId, "--dest", tmp_ / "dest"};
  }

  // Neither a stored transfer nor a record of one.
  bool NothingStored() const {
    std::error_code error;
    return !fs::exists(tmp_ / kTransfers) || fs::is_empty(tmp_ / kTransfers, error);
  }

  test::TempDir tmp_;
  test::TestPackage package_;
  test::TestHttpServer manifests_;
  test::TestHttpServer node_;
};

TEST_F(VelmoFetchRunTest, ARunEndingBeforeItsTransferIsStoredOffersTheSameCommandAgain) {
  const std::string manifest = "/manifests/" + package_.packageId + "/current.xml";
  using Host = test::TestHttpServer;
  const struct {
    const char* name;
    std::function<std::string(Host&)> breakHost;  // the host to fetch from
    bool interrupt;                               // Ctrl-C once the manifest was asked for
  } cases[] = {
      {"host down", [](Host&) { return std::string("127.0.0.1:1"); }, false},
      {"503",
       [&](Host& h) {
         return h.SetStatuses(manifest, {503, 503, 503, 503, 503}), h.Host();
       },
       false},
      {"redirect loop", [&](Host& h) { return h.SetRedirect(manifest, manifest), h.Host(); },
       false},
      {"Ctrl-C", [&](Host& h) { return h.SetDelay(manifest, std::chrono::seconds(5)), h.Host(); },
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Host host;
    package_.Serve(host, {&node_});
    const pid_t child = Start(NewRun(c.breakHost(host)));
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (c.interrupt && host.Requests().empty() && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (c.interrupt) ::kill(child, SIGINT);
    EXPECT_EQ(Wait(child) == kExitSuspended, c.interrupt);
    const std::string err = ReadFile(tmp_ / "err");
    EXPECT_NE(err.find("run the same command again"), std::string::npos) << err;
    EXPECT_EQ(err.find("--resume"), std::string::npos) << err;
    EXPECT_EQ(ReadFile(tmp_ / "out"), "");
    EXPECT_TRUE(NothingStored());
  }
}

TEST_F(VelmoFetchRunTest, AStoredTransferThatCannotBeReadIsNamedWithItsReason) {
  const std::string id(32, 'c');
  const fs::path document = fs::path(tmp_ / kTransfers) / (id + ".json");
  fs::create_directories(document);  // a folder where the document should be
  EXPECT_EQ(Wait(Start({"--resume", id, "--host", manifests_.Host()})), kExitUnreadableTransfer);
  const std::string err = ReadFile(tmp_ / "err");
  EXPECT_NE(err.find(document.string() + " cannot be read: "), std::string::npos) << err;
  EXPECT_EQ(err.find("no suspended transfer"), std::string::npos) << err;
}

TEST_F(VelmoFetchRunTest, ASecondRunIntoTheFolderOrOfTheTransferIsRefusedNamingTheFirst) {
  // This process holds the locks a first run would hold.
  fs::create_directories(tmp_ / "dest");
  const std::string id(32, 'd');
  const struct {
    std::string lockName;
    std::vector<std::string> args;
  } cases[] = {
      {fetch::DestinationLockName(fs::canonical(tmp_ / "dest").string()),
       NewRun(manifests_.Host())},
      {fetch::TransferLockName(id), {"--resume", id, "--host", manifests_.Host()}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lockName);
    FileLock held;
    std::string path;
    std::string detail;
    ASSERT_EQ(fetch::TakeFetchLock(held, kTransfers, c.lockName, "pid 1: the first run", nullptr,
                                   path, detail),
              FileLock::Result::Taken)
        << detail;
    EXPECT_EQ(Wait(Start(c.args)), kExitBusy);
    EXPECT_NE(ReadFile(tmp_ / "err").find("pid 1: the first run"), std::string::npos);
  }
  EXPECT_TRUE(manifests_.Requests().empty());
}

}  // namespace
}  // namespace velmo
