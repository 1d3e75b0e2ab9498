// velmo-fetch, the real program, given documents built to crash it: it must
// end with its documented exit code, never with a signal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/TempDir.h"
#include "support/TestHttpServer.h"
#include "support/TestPackage.h"
#include "velmo/transfer/TransferError.h"

namespace velmo {
namespace {

namespace fs = std::filesystem;

constexpr int kExitUnreadableTransfer = 69;

// Runs velmo-fetch with TMPDIR set to `tmp`; the raw wait status.
int RunFetch(const std::string& tmp, const std::vector<std::string>& args) {
  const std::string program = std::string(VELMO_BINARY_DIR) + "/tools/velmo-fetch/velmo-fetch";
  std::vector<std::string> strings{program};
  strings.insert(strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& s : strings) argv.push_back(s.data());
  argv.push_back(nullptr);
  std::string tmpdir = "TMPDIR=" + tmp;
  std::string home = "HOME=" + tmp;
  std::string path = "PATH=/usr/bin:/bin";
  char* envp[] = {tmpdir.data(), home.data(), path.data(), nullptr};
  // Everything the child needs is built before the fork.
  const pid_t child = ::fork();
  if (child == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execve(program.c_str(), argv.data(), envp);
    ::_exit(127);
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child) return -1;
  return status;
}

std::string Describe(int status) {
  if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
  if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
  return "wait status " + std::to_string(status);
}

TEST(VelmoFetchHostileInputTest, HostileDocumentsEndInAnErrorExitNotASignal) {
  test::TempDir tmp;
  test::TestPackage package;
  package.AddFile("a.bin", 5000, 1);
  test::TestHttpServer manifests;
  test::TestHttpServer node;
  package.Serve(manifests, {&node});

  // A manifest that hides 100,000 levels of nesting behind a "<!" markup.
  std::string deep = "<!x[>";
  for (int i = 0; i < 100000; ++i) deep += "<a>";
  deep += "]>";
  manifests.SetBody("/manifests/" + package.packageId + "/current.xml", deep);
  int status =
      RunFetch(tmp.path(), {"--host", manifests.Host(), "--partner", package.partnerId, "--package",
                            package.packageId, "--dest", tmp / "dest", "--quiet"});
  EXPECT_TRUE(WIFEXITED(status) &&
              WEXITSTATUS(status) == 1 + static_cast<int>(TransferError::ManifestError))
      << Describe(status);

  // A stored transfer of 200,000 '['.
  const fs::path transfers = fs::path(tmp.path()) / "Orvanta/Pellaris/transfers";
  fs::create_directories(transfers);
  for (fs::path p = transfers; p != fs::path(tmp.path()); p = p.parent_path()) {
    ::chmod(p.c_str(), 0700);
  }
  const std::string id = "0123456789abcdef0123456789abcdef";
  std::ofstream(transfers / (id + ".json")) << std::string(200000, '[');
  status = RunFetch(tmp.path(), {"--resume", id, "--host", manifests.Host(), "--quiet"});
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kExitUnreadableTransfer)
      << Describe(status);
  // The document was set aside, so the id no longer names anything.
  EXPECT_FALSE(fs::exists(transfers / (id + ".json")));
}

}  // namespace
}  // namespace velmo
