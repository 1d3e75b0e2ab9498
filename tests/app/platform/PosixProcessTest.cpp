#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/TempDir.h"
#include "velmo/app/platform/PosixProcess.h"

namespace velmo {
namespace {

class PosixProcessTest : public ::testing::Test {
 protected:
  // A child that records its working folder and every argument on its own
  // line, then exits with the code named by $EXIT_CODE_FILE's content.
  std::string WriteScript(const std::string& name, mode_t mode = 0755) {
    std::string path = dir_ / name;
    std::ofstream(path) << "#!/bin/sh\n"
                        << "out=\"" << (dir_ / "out.txt") << "\"\n"
                        << "pwd > \"$out\"\n"
                        << "for a in \"$@\"; do printf '%s\\n' \"$a\" >> \"$out\"; done\n"
                        << "exit 7\n";
    chmod(path.c_str(), mode);
    return path;
  }
  std::vector<std::string> OutputLines() {
    std::ifstream in(dir_ / "out.txt");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  test::TempDir dir_;
};

TEST_F(PosixProcessTest, PassesEveryArgumentIntactAndWaits) {
  std::filesystem::create_directory(dir_ / "bin dir");
  PosixProcess process(WriteScript("bin dir/prog"));
  std::vector<std::string> args = {"/name", "My \"Quoted\" Game", "/folder", "a b\\c", "/empty",
                                   ""};
  ASSERT_TRUE(process.Launch(true, args, ""));
  EXPECT_EQ(process.LastExitCode(), 7);
  auto lines = OutputLines();
  ASSERT_EQ(lines.size(), 1 + args.size());
  EXPECT_EQ(lines[0], std::filesystem::canonical(dir_ / "bin dir").string())
      << "an empty working folder means the program's own folder";
  for (std::size_t i = 0; i < args.size(); ++i) EXPECT_EQ(lines[i + 1], args[i]);
}

TEST_F(PosixProcessTest, UsesTheGivenWorkingFolder) {
  PosixProcess process(WriteScript("prog"));
  std::filesystem::create_directory(dir_ / "work");
  ASSERT_TRUE(process.Launch(true, {}, dir_ / "work"));
  EXPECT_EQ(OutputLines().at(0), std::filesystem::canonical(dir_ / "work").string());
}

TEST_F(PosixProcessTest, RefusesWhatCannotBeStarted) {
  EXPECT_FALSE(PosixProcess(dir_ / "missing").Launch(true, {}, ""));
  EXPECT_FALSE(PosixProcess("").Launch(true, {}, ""));
  if (geteuid() != 0) {
    EXPECT_FALSE(PosixProcess(WriteScript("noexec", 0644)).Launch(true, {}, ""));
  }
  EXPECT_FALSE(PosixProcess(WriteScript("prog")).Launch(true, {}, dir_ / "no-such-folder"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "out.txt"));
}

// Children of this process, zombies included, from /proc.
int ChildCount() {
  int count = 0;
  const std::string self = std::to_string(::getpid());
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream in(entry.path() / "stat");
    std::string stat;
    std::getline(in, stat);
    const auto close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream fields(stat.substr(close + 1));
    std::string state, ppid;
    fields >> state >> ppid;
    if (ppid == self) ++count;
  }
  return count;
}

TEST_F(PosixProcessTest, WithoutWaitReturnsAfterStartingAndLeavesNoZombie) {
  ASSERT_EQ(ChildCount(), 0);
  PosixProcess process(WriteScript("prog"));
  EXPECT_TRUE(process.Launch(false, {"x"}, ""));
  EXPECT_EQ(process.LastExitCode(), -1) << "nothing awaited";
  // The child exits at once; its exit entry must be collected. Bounded wait.
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (ChildCount() != 0 && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(ChildCount(), 0) << "the child lingers (a zombie)";
  EXPECT_EQ(OutputLines().size(), 2u);
}

TEST_F(PosixProcessTest, TheChildInheritsOnlyTheStandardDescriptors) {
  // Descriptors without close-on-exec, as a library might leave them.
  const int socketFd = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(socketFd, 3);
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const int fileFd = ::open((dir_ / "held").c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(fileFd, 3);
  // The shell points its output at the file (keeping no saved copy of the
  // old one), then has ls list the shell's descriptors from outside.
  const std::string out = dir_ / "fds.txt";
  PosixProcess process("/bin/sh");
  ASSERT_TRUE(process.Launch(true, {"-c", "exec >\"$1\"; ls /proc/$$/fd", "sh", out}, dir_.path()));
  ::close(socketFd);
  ::close(pipeFds[0]);
  ::close(pipeFds[1]);
  ::close(fileFd);
  std::ifstream in(out);
  std::vector<std::string> fds;
  for (std::string line; std::getline(in, line);) fds.push_back(line);
  EXPECT_EQ(fds, (std::vector<std::string>{"0", "1", "2"}));
}

}  // namespace
}  // namespace velmo
