// What every shared file factory and its files promise the transfer works,
// whichever implementation is behind them: open modes and path rules, an
// allocation that never touches content, positional reads and writes inside
// the bounds from several threads at once, views that outlive their file,
// and removal that never throws. Behaviour of one implementation only (the
// POSIX modes, links, the mapping guard) stays in its own test.
//
// Another implementation joins the suite by its name in SharedFileFactories;
// each type is default-constructible and stores its files below the folder
// it is given.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "support/TempDir.h"
#include "velmo/file/FileException.h"
#include "velmo/file/MemoryMappedFileData.h"
#include "velmo/file/PosixSharedFileFactory.h"
#include "velmo/file/SharedFile.h"

namespace velmo {
namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

template <typename Factory>
class SharedFileContractTest : public ::testing::Test {
 protected:
  std::shared_ptr<SharedFile> Open(const std::string& rel,
                                   FileOpenMode mode = FileOpenMode::OpenOrCreate,
                                   std::uint64_t first = 0, std::uint64_t last = kMax) {
    return factory_.OpenFile(dir_.path(), rel, mode, first, last);
  }
  std::string ReadWhole(const std::string& rel) const { return test::ReadFile(dir_ / rel); }

  test::TempDir dir_;
  Factory factory_;
};

using SharedFileFactories = ::testing::Types<PosixSharedFileFactory>;
TYPED_TEST_SUITE(SharedFileContractTest, SharedFileFactories);

TYPED_TEST(SharedFileContractTest, AllocatesOnlyEmptyFilesAndCreatesParents) {
  auto file = this->Open("a/b/c.bin");
  EXPECT_TRUE(std::filesystem::is_regular_file(this->dir_ / "a/b/c.bin"));
  EXPECT_TRUE(file->Allocate(0)) << "size 0 on an empty file does nothing";
  EXPECT_EQ(file->GetSize(), 0u);
  EXPECT_TRUE(file->Allocate(10000));
  EXPECT_EQ(file->GetSize(), 10000u);
  EXPECT_EQ(file->GetPosition(), 0u);
  EXPECT_FALSE(file->Allocate(5)) << "a file with content is left as it is";
  EXPECT_EQ(file->GetSize(), 10000u);

  auto bounded = this->Open("small", FileOpenMode::OpenOrCreate, 0, 99);
  EXPECT_THROW(bounded->Allocate(101), FileOutOfBoundsException);
  EXPECT_EQ(bounded->GetSize(), 0u);

  // A file with content takes another size and keeps the bytes below both.
  file->WriteAt(9990, "0123456789", 10);
  for (const std::uint64_t size : {9995u, 20000u}) {
    ASSERT_TRUE(file->Resize(size));
    EXPECT_EQ(file->GetSize(), size);
    char bytes[5] = {};
    EXPECT_EQ(file->ReadAt(9990, bytes, 5), 5u);
    EXPECT_EQ(std::string(bytes, 5), "01234");
  }
  EXPECT_THROW(bounded->Resize(101), FileOutOfBoundsException);
}

TYPED_TEST(SharedFileContractTest, OpenModesAndPathRules) {
  EXPECT_THROW(this->Open("missing", FileOpenMode::OpenExisting), FileBadPathException);
  this->Open("exists");
  EXPECT_THROW(this->Open("exists", FileOpenMode::CreateNew), FileInUseException);
  EXPECT_NO_THROW(this->Open("exists", FileOpenMode::OpenExisting));

  for (const std::string& bad : std::vector<std::string>{"", "/etc/passwd", "../x", "a/../../x",
                                                         "a/..", std::string("a\0b", 3)}) {
    EXPECT_THROW(this->Open(bad), FileBadPathException) << "path '" << bad << "'";
  }
  EXPECT_FALSE(std::filesystem::exists(this->dir_.path() + "/../x"));

  EXPECT_THROW(
      this->factory_.OpenFile(this->dir_ / "nofolder", "a/b", FileOpenMode::OpenOrCreate, 0, kMax),
      FileBadPathException);
  EXPECT_FALSE(std::filesystem::exists(this->dir_ / "nofolder"))
      << "nothing created before the check";
  std::filesystem::create_directory(this->dir_ / "adir");
  EXPECT_THROW(this->Open("adir"), FileBadPathException);
  EXPECT_THROW(this->Open("x", FileOpenMode::OpenOrCreate, 5, 4), FileOutOfBoundsException);
}

TYPED_TEST(SharedFileContractTest, PositionalWritesStayInsideTheBoundsAndReadsStopAtTheEnd) {
  auto file = this->Open("f", FileOpenMode::OpenOrCreate, 0, 99);
  ASSERT_TRUE(file->Allocate(100));
  file->WriteAt(90, "0123456789", 10);
  EXPECT_THROW(file->WriteAt(95, "0123456789", 10), FileOutOfBoundsException)
      << "a write past the bounds is refused whole";
  EXPECT_THROW(file->WriteAt(100, "x", 1), FileOutOfBoundsException);
  char out[32] = {};
  EXPECT_EQ(file->ReadAt(90, out, 10), 10u);
  EXPECT_EQ(std::string(out, 10), "0123456789");
  EXPECT_EQ(file->GetPosition(), 0u) << "positional calls share no position";
  EXPECT_TRUE(file->Sync());
  file.reset();
  EXPECT_EQ(this->ReadWhole("f"), std::string(90, '\0') + "0123456789");

  // A file shorter than its bounds: the read returns what there is.
  auto shorter = this->Open("g", FileOpenMode::OpenOrCreate, 0, 99);
  ASSERT_TRUE(shorter->Allocate(20));
  EXPECT_EQ(shorter->ReadAt(15, out, 10), 5u);
}

TYPED_TEST(SharedFileContractTest, ThreadsWritingTheirOwnRangesAtOnceLoseNothing) {
  constexpr std::size_t kThreads = 4;
  constexpr std::size_t kPiece = 4096;
  constexpr std::size_t kPieces = 16;  // per thread, interleaved with the others'
  auto file = this->Open("f");
  ASSERT_TRUE(file->Allocate(kThreads * kPiece * kPieces));
  std::vector<std::thread> writers;
  for (std::size_t t = 0; t < kThreads; ++t) {
    writers.emplace_back([&file, t] {
      const std::string piece(kPiece, static_cast<char>('a' + t));
      for (std::size_t i = 0; i < kPieces; ++i) {
        file->WriteAt((i * kThreads + t) * kPiece, piece.data(), piece.size());
      }
    });
  }
  for (auto& writer : writers) writer.join();
  std::string expected;
  for (std::size_t i = 0; i < kPieces; ++i) {
    for (std::size_t t = 0; t < kThreads; ++t)
      expected += std::string(kPiece, static_cast<char>('a' + t));
  }
  std::string back(expected.size(), '\0');
  EXPECT_EQ(file->ReadAt(0, back.data(), back.size()), back.size());
  EXPECT_EQ(back, expected);
  file.reset();
  EXPECT_EQ(this->ReadWhole("f"), expected);
}

TYPED_TEST(SharedFileContractTest, ViewOutlivesItsFile) {
  auto file = this->Open("f");
  ASSERT_TRUE(file->Allocate(100));
  auto view = file->Map(10, 19);
  file.reset();
  EXPECT_EQ(view->Write("0123456789", 10), 10u);
  view.reset();
  EXPECT_EQ(this->ReadWhole("f").substr(10, 10), "0123456789");
}

TYPED_TEST(SharedFileContractTest, ExecutePermissionCanBeDeniedAndAllowedAgain) {
  auto file = this->Open("prog");
  EXPECT_TRUE(file->DenyExecute());
  EXPECT_TRUE(file->AllowExecute());
  EXPECT_TRUE(file->AllowExecute()) << "nothing to change is success too";
}

TYPED_TEST(SharedFileContractTest, FactoryRemovesAndClassifies) {
  this->Open("sub/x.bin");
  EXPECT_TRUE(this->factory_.RemoveFile(this->dir_.path(), "sub/x.bin"));
  EXPECT_FALSE(this->factory_.RemoveFile(this->dir_.path(), "sub/x.bin"));
  EXPECT_FALSE(this->factory_.RemoveFile(this->dir_.path(), "../escape"));
  EXPECT_FALSE(this->factory_.RemoveFile(this->dir_.path(), ""));
  EXPECT_FALSE(this->factory_.RemoveFile(this->dir_ / "nofolder", "x"));

  for (const char* yes : {"a.exe", "b/c.vbs", "run.sh", "x.run", "App.AppImage", "s.cmd"}) {
    EXPECT_TRUE(this->factory_.IsExecutable("", yes)) << yes;
  }
  for (const char* no : {"a.EXE", "b.VBS", "readme.txt", "noext", "sh", "x.appimage"}) {
    EXPECT_FALSE(this->factory_.IsExecutable("", no)) << no;
  }
}

}  // namespace
}  // namespace velmo
