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
#include <memory>
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
    const std::string out = tmp_ / "out";
    const std::string err = tmp_ / "err";
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

  // Polls until `done`, for at most 30 s.
  static void Until(const std::function<bool()>& done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done() && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  test::TempDir tmp_;
  test::TestPackage package_;
  test::TestHttpServer manifests_;
  test::TestHttpServer node_;
};

TEST_F(VelmoFetchRunTest, ARunEndingBeforeItsTransferIsStoredOffersTheSameCommandAgain) {
  const std::string manifest = "/manifests/" + package_.packageId + "/current.xml";
  std::string downHost;
  {
    test::TestHttpServer gone;
    downHost = gone.Host();
  }
  const struct {
    const char* name;
    std::function<void(test::TestHttpServer&)> breakHost;  // none: the host is down
  } cases[] = {
      {"host down", nullptr},
      {"503",
       [&](test::TestHttpServer& host) {
         host.SetStatuses(manifest, {503, 503, 503, 503, 503, 503});
       }},
      {"redirect loop", [&](test::TestHttpServer& host) { host.SetRedirect(manifest, manifest); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TestHttpServer host;
    package_.Serve(host, {&node_});
    if (c.breakHost) c.breakHost(host);
    EXPECT_GT(Wait(Start(NewRun(c.breakHost ? host.Host() : downHost))), 0);
    const std::string err = ReadFile(tmp_ / "err");
    EXPECT_NE(err.find("run the same command again"), std::string::npos) << err;
    EXPECT_EQ(err.find("--resume"), std::string::npos) << err;
    EXPECT_TRUE(NothingStored());
  }

  // Ctrl-C while the manifest is on its way.
  manifests_.SetDelay(manifest, std::chrono::seconds(5));
  const pid_t child = Start(NewRun(manifests_.Host()));
  Until([&] { return !manifests_.Requests().empty(); });
  ::kill(child, SIGINT);
  EXPECT_EQ(Wait(child), kExitSuspended);
  EXPECT_NE(ReadFile(tmp_ / "err").find("run the same command again"), std::string::npos);
  EXPECT_EQ(ReadFile(tmp_ / "out"), "");
  EXPECT_TRUE(NothingStored());
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

  // With --wait the second run goes on once the first one is gone.
  auto held = std::make_unique<FileLock>();
  std::string path;
  std::string detail;
  fetch::TakeFetchLock(*held, kTransfers, cases[0].lockName, "", nullptr, path, detail);
  std::vector<std::string> args = cases[0].args;
  args.push_back("--wait");
  const pid_t child = Start(args);
  Until([&] { return ReadFile(tmp_ / "err").find("waiting") != std::string::npos; });
  EXPECT_TRUE(manifests_.Requests().empty());
  held.reset();
  EXPECT_EQ(Wait(child), 0) << ReadFile(tmp_ / "err");
}

}  // namespace
}  // namespace velmo
