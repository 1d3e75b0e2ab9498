#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "support/TempDir.h"
#include "velmo/platform/PrivateFolder.h"

namespace velmo {
namespace {

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return 0;
  return st.st_mode & 07777;
}

// A umask that would let group and others in, as many desktops set.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : old_(::umask(mask)) {}
  ~ScopedUmask() { ::umask(old_); }

 private:
  mode_t old_;
};

std::string RefusalOf(const std::string& base, const std::string& relative, uid_t owner) {
  try {
    MakePrivateFolders(base, relative, owner);
  } catch (const UnsafeFolderError& e) {
    return e.what();
  }
  return "accepted";
}

TEST(PrivateFolderTest, NewFoldersAreTheUsersAloneWhateverTheUmask) {
  test::TempDir dir;
  ScopedUmask umask(0002);
  MakePrivateFolders(dir.path(), "Orvanta/Pellaris/transfers");
  for (const char* folder : {"Orvanta", "Orvanta/Pellaris", "Orvanta/Pellaris/transfers"}) {
    EXPECT_EQ(ModeOf(dir / folder), 0700u) << folder;
  }
  // Again: the folders exist and pass.
  EXPECT_NO_THROW(MakePrivateFolders(dir.path(), "Orvanta/Pellaris/transfers"));
  // A missing base (an unmade ~/.cache) is made too.
  MakePrivateFolders(dir / "cache/deeper", "app");
  EXPECT_EQ(ModeOf(dir / "cache/deeper/app"), 0700u);

  ASSERT_EQ(MakeFoldersWithParents(dir / "plain/a/b"), 0);
  EXPECT_EQ(ModeOf(dir / "plain"), 0700u);
  EXPECT_EQ(ModeOf(dir / "plain/a/b"), 0700u);
  std::ofstream(dir / "file") << "x";
  EXPECT_EQ(MakeFoldersWithParents(dir / "file"), ENOTDIR);
}

TEST(PrivateFolderTest, FoldersOthersControlAreRefused) {
  test::TempDir dir;
  const uid_t me = ::geteuid();
  // An old folder of ours that only we may write in is fine (0755 from an
  // earlier version).
  ASSERT_TRUE(std::filesystem::create_directories(dir / "ok/inner"));
  ::chmod((dir / "ok").c_str(), 0755);
  EXPECT_EQ(RefusalOf(dir.path(), "ok/inner", me), "accepted");

  // Writable by everyone, at the top or further down.
  ASSERT_TRUE(std::filesystem::create_directories(dir / "open/inner"));
  ::chmod((dir / "open").c_str(), 0777);
  EXPECT_EQ(RefusalOf(dir.path(), "open/inner", me),
            dir / "open" + ": may be written by other users");
  ::chmod((dir / "open").c_str(), 0700);
  ::chmod((dir / "open/inner").c_str(), 0770);
  EXPECT_EQ(RefusalOf(dir.path(), "open/inner", me),
            dir / "open/inner" + ": may be written by other users");

  // A link in place of a folder, even to a private folder of ours.
  ASSERT_TRUE(std::filesystem::create_directories(dir / "target"));
  std::filesystem::create_directory_symlink(dir / "target", dir / "link");
  EXPECT_EQ(RefusalOf(dir.path(), "link/logs", me),
            dir / "link" + ": is not a folder (a link or a file is in its place)");
  EXPECT_FALSE(std::filesystem::exists(dir / "target/logs")) << "nothing made through the link";
  std::ofstream(dir / "afile") << "x";
  EXPECT_NE(RefusalOf(dir.path(), "afile/logs", me), "accepted");

  // Another owner (the folder is ours, so the owner we expect is changed).
  EXPECT_EQ(RefusalOf(dir.path(), "ok", me + 1), dir / "ok" + ": belongs to another user");
  EXPECT_NE(RefusalOf(dir.path(), "ok/../open", me), "accepted");
  EXPECT_NE(RefusalOf("", "ok", me), "accepted");
}

TEST(PrivateFolderTest, OnlyFoldersBelowTheTemporaryFolderAreChecked) {
  test::TempDir elsewhere(false);  // made first, so not below the next one
  test::TempDir temp;              // TMPDIR
  ASSERT_TRUE(std::filesystem::create_directories(temp / "shared"));
  ::chmod((temp / "shared").c_str(), 0777);
  EXPECT_THROW(MakePrivateFolderPath(temp / "shared/work"), UnsafeFolderError);
  MakePrivateFolderPath(temp / "mine/work");
  EXPECT_EQ(ModeOf(temp / "mine/work"), 0700u);

  // A destination the user chose may sit in a shared folder; it is made, 0700.
  ASSERT_TRUE(std::filesystem::create_directories(elsewhere / "shared"));
  ::chmod((elsewhere / "shared").c_str(), 0777);
  EXPECT_NO_THROW(MakePrivateFolderPath(elsewhere / "shared/dest"));
  EXPECT_EQ(ModeOf(elsewhere / "shared/dest"), 0700u);
}

}  // namespace
}  // namespace velmo
