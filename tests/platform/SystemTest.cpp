#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "velmo/platform/Clock.h"
#include "velmo/platform/System.h"

namespace velmo {
namespace {

TEST(JoinPathTest, StripsLeadingSlashesAndAddsOneSeparator) {
  EXPECT_EQ(JoinPath("/tmp/u", "Orvanta/Pellaris"), "/tmp/u/Orvanta/Pellaris");
  EXPECT_EQ(JoinPath("/tmp/u/", "Orvanta"), "/tmp/u/Orvanta");
  EXPECT_EQ(JoinPath("/tmp/u", "///a/b"), "/tmp/u/a/b");
  EXPECT_EQ(JoinPath("", "/Orvanta/Pellaris"), "Orvanta/Pellaris");
  EXPECT_EQ(JoinPath("/a", ""), "/a/");
  EXPECT_EQ(JoinPath("/a", "//"), "/a/");
}

TEST(ClockTest, DifferencesWrapModulo32Bits) {
  EXPECT_EQ(TicksBetween(0xFFFFFFF0u, 0x10u), 0x20u);
  EXPECT_EQ(TicksBetween(5u, 5u), 0u);
  std::uint32_t a = TickCount();
  std::uint32_t b = TickCount();
  EXPECT_LT(TicksBetween(a, b), 1000u) << "a monotonic clock never runs backwards";
}

class UserTempFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* n : {"TMPDIR", "XDG_CACHE_HOME", "HOME"}) {
      const char* v = getenv(n);
      saved_.emplace_back(n, v ? std::optional<std::string>(v) : std::nullopt);
    }
  }
  void TearDown() override {
    for (auto& [n, v] : saved_) {
      if (v)
        setenv(n, v->c_str(), 1);
      else
        unsetenv(n);
    }
  }
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

TEST_F(UserTempFolderTest, PrefersTmpdirThenCacheThenHome) {
  auto dir = std::filesystem::temp_directory_path().string();
  setenv("TMPDIR", dir.c_str(), 1);
  setenv("XDG_CACHE_HOME", "/x/cache", 1);
  setenv("HOME", "/x/home", 1);
  EXPECT_EQ(UserTempFolder(), dir);

  setenv("TMPDIR", "/definitely/not/a/folder", 1);
  EXPECT_EQ(UserTempFolder(), "/x/cache");
  unsetenv("XDG_CACHE_HOME");
  EXPECT_EQ(UserTempFolder(), "/x/home/.cache");
  unsetenv("HOME");
  unsetenv("TMPDIR");
  EXPECT_EQ(UserTempFolder(), "");
}

TEST(SystemTest, ProcessorCountIsAtLeastOneAndProgramPathIsAbsolute) {
  EXPECT_GE(ProcessorCount(), 1u);
  EXPECT_EQ(ProgramPath("/usr/bin/x"), "/usr/bin/x");
  EXPECT_EQ(ProgramPath("rel/x").front(), '/');
  EXPECT_EQ(ProgramPath("bare").front(), '/') << "a bare name falls back to /proc/self/exe";
}

}  // namespace
}  // namespace velmo
