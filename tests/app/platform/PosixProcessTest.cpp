#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
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

TEST_F(PosixProcessTest, WithoutWaitReturnsAfterStarting) {
  PosixProcess process(WriteScript("prog"));
  EXPECT_TRUE(process.Launch(false, {"x"}, ""));
  EXPECT_EQ(process.LastExitCode(), -1) << "nothing awaited";
}

}  // namespace
}  // namespace velmo
