// Behaviour of the POSIX files alone: folder and file modes, links, the
// mapping guard, read caps, a full disk. What every implementation promises
// is in SharedFileContractTest.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "support/TempDir.h"
#include "velmo/file/FileException.h"
#include "velmo/file/MemoryMappedFileData.h"
#include "velmo/file/PosixSharedFile.h"
#include "velmo/file/PosixSharedFileFactory.h"

namespace velmo {
namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

class PosixSharedFileTest : public ::testing::Test {
 protected:
  std::shared_ptr<SharedFile> Open(const std::string& rel,
                                   FileOpenMode mode = FileOpenMode::OpenOrCreate,
                                   std::uint64_t first = 0, std::uint64_t last = kMax) {
    return factory_.OpenFile(dir_.path(), rel, mode, first, last);
  }
  std::string ReadWhole(const std::string& rel) {
    std::ifstream in(dir_ / rel, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  mode_t Mode(const std::string& rel) {
    struct stat st {};
    stat((dir_ / rel).c_str(), &st);
    return st.st_mode & 0777;
  }

  test::TempDir dir_;
  PosixSharedFileFactory factory_;
};

TEST_F(PosixSharedFileTest, MadeFoldersArePrivateAndLinksAreNeverFollowed) {
  const mode_t old = ::umask(0002);
  Open("a/b/c.bin");
  ::umask(old);
  EXPECT_EQ(Mode("a"), 0700u);
  EXPECT_EQ(Mode("a/b"), 0700u);

  // A link planted where a file will be written must not redirect the write.
  std::ofstream(dir_ / "victim") << "keep";
  std::filesystem::create_symlink(dir_ / "victim", dir_ / "a/b/planted");
  for (FileOpenMode mode :
       {FileOpenMode::OpenOrCreate, FileOpenMode::OpenExisting, FileOpenMode::CreateNew}) {
    EXPECT_THROW(Open("a/b/planted", mode), FileException) << static_cast<int>(mode);
  }
  EXPECT_EQ(ReadWhole("victim"), "keep");
}

TEST_F(PosixSharedFileTest, InaccessibleFolderIsReported) {
  if (geteuid() == 0) GTEST_SKIP() << "root ignores permission bits";
  std::filesystem::create_directory(dir_ / "ro");
  chmod((dir_ / "ro").c_str(), 0500);
  EXPECT_THROW(factory_.OpenFile(dir_ / "ro", "f", FileOpenMode::OpenOrCreate, 0, kMax),
               FileInaccessibleException);
}

TEST_F(PosixSharedFileTest, HandleReadsAreCappedAndWritesNeverTruncate) {
  auto file = Open("f", FileOpenMode::OpenOrCreate, 0, 9999);
  std::vector<char> data(10000, 'x');
  EXPECT_EQ(file->Write(data.data(), 10000), 10000u);
  EXPECT_THROW(file->Write(data.data(), 1), FileOutOfBoundsException) << "past upperBound";
  file->SetPosition(0);
  std::vector<char> buffer(10000);
  EXPECT_EQ(file->Read(buffer.data(), 10000), 4096u);
  EXPECT_EQ(file->GetPosition(), 4096u);
  EXPECT_EQ(file->Read(buffer.data(), 0), 0u);
  EXPECT_THROW(file->SetPosition(10000), FileOutOfBoundsException);
}

TEST_F(PosixSharedFileTest, MapsOnlyExistingBytes) {
  auto file = Open("f");
  ASSERT_TRUE(file->Allocate(3 * 4096 + 17));
  std::uint64_t size = file->GetSize();
  EXPECT_THROW(file->Map(0, size), FileInvalidMapException);
  EXPECT_NO_THROW(file->Map(0, size - 1));
  EXPECT_THROW(file->Map(10, 9), FileOutOfBoundsException);
  auto bounded = Open("g", FileOpenMode::OpenOrCreate, 100, 200);
  EXPECT_THROW(bounded->Map(50, 150), FileOutOfBoundsException);
  EXPECT_THROW(file->Map(0, std::uint64_t{1} << 33), std::bad_alloc) << "4 GiB or more";
}

TEST_F(PosixSharedFileTest, UnalignedViewsWriteExactlyTheirBytes) {
  auto file = Open("f");
  ASSERT_TRUE(file->Allocate(20000));
  auto view = file->Map(4097, 4097 + 999);
  const char* text = "hello";
  EXPECT_EQ(view->Write(text, 5), 5u);
  EXPECT_EQ(view->GetPosition(), 4102u);
  std::memcpy(view->Advance(3), "abc", 3);
  EXPECT_EQ(view->Advance(0), nullptr);
  EXPECT_EQ(view->Data()[0], 'h') << "Data points at the first byte, not the page start";

  std::vector<char> big(995, 'z');
  EXPECT_THROW(view->Write(big.data(), 995), FileOutOfBoundsException);
  EXPECT_EQ(view->GetPosition(), 4105u) << "a refused write moves nothing";
  EXPECT_EQ(view->Write(big.data(), 992), 992u);

  view->SetPosition(4097);
  std::vector<char> out(5000);
  EXPECT_THROW(view->Read(out.data(), 5000), FileOutOfBoundsException) << "never truncated";
  EXPECT_EQ(view->Read(out.data(), 1000), 1000u);
  EXPECT_EQ(std::string(out.data(), 8), "helloabc");

  std::uint32_t sum = view->Apply([](const std::uint8_t* data, std::uint64_t n) {
    std::uint32_t s = 0;
    for (std::uint64_t i = 0; i < n; ++i) s += data[i];
    return s;
  });
  EXPECT_EQ(sum, std::uint32_t('h' + 'e' + 'l' + 'l' + 'o' + 'a' + 'b' + 'c' + 992 * 'z'));
  EXPECT_THROW(view->Apply(MemoryMappedFileData::ApplyFunction()), std::bad_function_call);
  EXPECT_NO_THROW(view->Fetch());

  view.reset();
  file.reset();
  std::string content = ReadWhole("f");
  ASSERT_EQ(content.size(), 20000u);
  EXPECT_EQ(content.substr(4097, 8), "helloabc");
  EXPECT_EQ(content[4096], '\0');
  EXPECT_EQ(content[4097 + 1000], '\0') << "nothing written after the view";
}

TEST_F(PosixSharedFileTest, ViewReadsAreCappedAt4096) {
  auto file = Open("f", FileOpenMode::OpenOrCreate, 0, 9999);
  ASSERT_TRUE(file->Allocate(10000));
  auto view = file->Map();
  std::vector<char> out(10000);
  EXPECT_EQ(view->Read(out.data(), 10000), 4096u);
  EXPECT_EQ(view->GetPosition(), 4096u);
}

TEST_F(PosixSharedFileTest, TruncatedFileUnderViewIsAnInvalidMap) {
  auto file = Open("f");
  ASSERT_TRUE(file->Allocate(8 * 4096));
  auto view = file->Map(4 * 4096, 8 * 4096 - 1);
  ASSERT_EQ(truncate((dir_ / "f").c_str(), 0), 0);
  char buffer[16] = {};
  EXPECT_THROW(view->Write(buffer, sizeof buffer), FileInvalidMapException);
  EXPECT_THROW(view->Read(buffer, sizeof buffer), FileInvalidMapException);
  EXPECT_THROW(view->Fetch(), FileInvalidMapException);
  EXPECT_THROW(
      view->Apply([](const std::uint8_t* d, std::uint64_t) { return std::uint32_t(d[0]); }),
      FileInvalidMapException);
  // The guard is disarmed again: ordinary code keeps working afterwards.
  auto other = Open("g");
  ASSERT_TRUE(other->Allocate(10));
  EXPECT_EQ(other->Map(0, 9)->Write("x", 1), 1u);
}

TEST_F(PosixSharedFileTest, FullDiskIsInsufficientSpace) {
  // A file-size limit makes the allocation fail like a full disk; run it in a
  // child so the limit does not stay on the test process.
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {
      4096, 4096
    };
    setrlimit(RLIMIT_FSIZE, &limit);
    int code = 3;
    try {
      auto file = Open("huge");
      file->Allocate(1 << 20);
      code = 1;
    } catch (const FileInsufficientSpaceException&) {
      code = 0;
    } catch (...) {
      code = 2;
    }
    _exit(code);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: no error, 2: another exception";
}

TEST_F(PosixSharedFileTest, ExecutePermissionFollowsReadBits) {
  auto file = Open("prog");
  ASSERT_EQ(chmod((dir_ / "prog").c_str(), 0644), 0);
  EXPECT_TRUE(file->AllowExecute());
  EXPECT_EQ(Mode("prog"), 0755u);
  EXPECT_TRUE(file->AllowExecute()) << "nothing to change is success too";
  EXPECT_TRUE(file->DenyExecute());
  EXPECT_EQ(Mode("prog"), 0644u);
  ASSERT_EQ(chmod((dir_ / "prog").c_str(), 0600), 0);
  EXPECT_TRUE(file->AllowExecute());
  EXPECT_EQ(Mode("prog"), 0700u);
}

TEST(BoundedFileDataTest, RangeSizeLimit) {
  EXPECT_NO_THROW(BoundedFileData::CheckRangeSize(5, 4)) << "empty range";
  EXPECT_NO_THROW(BoundedFileData::CheckRangeSize(0, 0xFFFFFFFEull));
  EXPECT_THROW(BoundedFileData::CheckRangeSize(0, 0xFFFFFFFFull), std::bad_alloc);
  EXPECT_THROW(BoundedFileData::CheckRangeSize(5, 3), std::bad_alloc);
}

TEST(FileErrorTest, ErrnoClasses) {
  EXPECT_THROW(ThrowFileError(ENOENT), FileBadPathException);
  EXPECT_THROW(ThrowFileError(EROFS), FileInaccessibleException);
  EXPECT_THROW(ThrowFileError(ENOMEM), std::bad_alloc);
  EXPECT_THROW(ThrowFileError(ETXTBSY), FileInUseException);
  EXPECT_THROW(ThrowFileError(EDQUOT), FileInsufficientSpaceException);
  EXPECT_THROW(ThrowFileError(EIO), FileInvalidMapException);
  EXPECT_THROW(ThrowFileError(EXDEV), FileUnknownException);
}

}  // namespace
}  // namespace velmo
