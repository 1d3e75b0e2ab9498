// velmo-fetch, the real program: what it offers when a run ends before its
// transfer was stored, how it names a stored transfer it cannot read, and the
// locks that keep two runs out of one folder or one transfer.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
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

// Memory grows by at most 128 bytes a chunk and 1 KiB a file over 64 MiB,
// first run or re-check: a package of many chunks already in place once held
// every chunk's works in the log's queue, a package of many files the parse
// tree of its whole manifest.
TEST(VelmoFetchScaleTest, PeakMemoryStaysWithinItsBudget) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers' own memory is no measure of velmo-fetch's";
#endif
  const struct {
    const char* name;
    std::uint32_t chunkSize;
    std::size_t files, bytesPerFile;
    bool inPlace;  // the package is complete on disk already
  } cases[] = {{"50,000 1-byte chunks re-checked", 1, 1, 50000, true},
               {"20,000 empty files", 4096, 20000, 0, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir tmp;
    test::TestPackage package;
    package.chunkSize = c.chunkSize;
    for (std::size_t i = 0; i < c.files; ++i) {
      package.AddFile("d" + std::to_string(i / 1000) + "/f" + std::to_string(i), c.bytesPerFile);
    }
    test::TestHttpServer manifests, node;
    package.Serve(manifests, {&node});
    for (const auto& [path, contents] : package.files) {
      if (!c.inPlace) break;
      const fs::path file = fs::path(tmp / "dest") / path;
      fs::create_directories(file.parent_path());
      std::ofstream(file, std::ios::binary) << contents;
    }
    const std::string program = std::string(VELMO_BINARY_DIR) + "/tools/velmo-fetch/velmo-fetch";
    const std::string command = "TMPDIR=" + tmp.path() + " " + program + " --quiet --host " +
                                manifests.Host() + " --partner " + package.partnerId +
                                " --package " + package.packageId + " --dest " + (tmp / "dest") +
                                " >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    const std::uint64_t chunks = c.files * ((c.bytesPerFile + c.chunkSize - 1) / c.chunkSize);
    const std::uint64_t budgetKiB = 64 * 1024 + (chunks * 128 + c.files * 1024) / 1024;
    EXPECT_LE(static_cast<std::uint64_t>(usage.ru_maxrss), budgetKiB);
  }
}

}  // namespace
}  // namespace velmo
