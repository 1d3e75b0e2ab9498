#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <limits>
#include <new>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/TempDir.h"
#include "velmo/engine/JsonTempFileManifestStore.h"
#include "velmo/engine/TransferManifest.h"
#include "velmo/file/PosixSharedFile.h"
#include "velmo/file/PosixSharedFileFactory.h"
#include "velmo/file/SharedFile.h"
#include "velmo/manifest/ManifestExceptions.h"

namespace velmo {
namespace {

namespace fs = std::filesystem;
using boost::property_tree::ptree;

const char kFolder[] = "Orvanta/Pellaris/transfers";
const char kId[] = "0123456789abcdef0123456789ABCDEF";

TransferParams Params(const std::string& id, const std::string& destPath) {
  TransferParams params;
  params.transferId = id;
  params.partnerId = "p";
  params.packageId = "k";
  params.versionId = "?";
  params.destPath = destPath;
  return params;
}

class TransferManifestStoreTest : public ::testing::Test {
 protected:
  fs::path FileOf(const std::string& id) const {
    return fs::path(dir_.path()) / kFolder / (id + ".json");
  }

  std::string Read(const std::string& id) const {
    std::ifstream in(FileOf(id), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  void Put(const std::string& id, const std::string& text) const {
    fs::create_directories(FileOf(id).parent_path());
    std::ofstream out(FileOf(id), std::ios::binary);
    out << text;
  }

  bool Load(const std::string& id, TransferManifest& manifest) { return store_.Load(id, manifest); }

  // The names in the store's folder, sorted.
  std::vector<std::string> FolderEntries() const {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(FileOf("x").parent_path(), error)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  test::TempDir dir_;
  PosixSharedFileFactory files_;
  JsonTempFileManifestStore<TransferManifest> store_{kFolder, &files_};
};

TEST_F(TransferManifestStoreTest, SavedDocumentIsOneCompactLine) {
  ASSERT_TRUE(store_.Save(kId, TransferManifest(Params(kId, "C:\\D"))));
  const std::string expected = std::string(R"({"transferId":")") + kId +
                               R"(","partnerId":"p","packageId":"k","versionId":"?",)"
                               R"("destPath":"C:\\D"})" +
                               "\n";
  EXPECT_EQ(Read(kId), expected);
  EXPECT_EQ(Read(kId).size(), 85u + std::string(kId).size());
}

TEST_F(TransferManifestStoreTest, SavedFoldersAreTheUsersAlone) {
  ASSERT_TRUE(store_.Save(kId, TransferManifest(Params(kId, "/d"))));
  for (fs::path p = FileOf(kId).parent_path(); p != fs::path(dir_.path()); p = p.parent_path()) {
    struct stat st {};
    ASSERT_EQ(::stat(p.c_str(), &st), 0) << p;
    EXPECT_EQ(st.st_mode & 0777, 0700u) << p;
  }
}

TEST_F(TransferManifestStoreTest, EscapesFollowTheStoredForm) {
  // Quote, backslash, slash, the named controls, another control, U+00E9 as
  // its UTF-8 bytes, U+4E2D and U+1F600 as UTF-16 escapes.
  const std::string dest = "a\"b\\c/d\b\f\n\r\t\x01\x7f-\xC3\xA9-\xE4\xB8\xAD-\xF0\x9F\x98\x80";
  ASSERT_TRUE(store_.Save("x", TransferManifest(Params("x", dest))));
  const std::string text = Read("x");
  const std::string expected =
      "\"destPath\":\"a\\\"b\\\\c\\/"
      "d\\b\\f\\n\\r\\t\\u0001\x7f-\xC3\xA9-\\u4E2D-\\uD83D\\uDE00\"}\n";
  ASSERT_GE(text.size(), expected.size());
  EXPECT_EQ(text.substr(text.size() - expected.size()), expected);

  TransferManifest loaded;
  ASSERT_TRUE(Load("x", loaded));
  EXPECT_EQ(loaded.params.destPath, dest);
}

TEST_F(TransferManifestStoreTest, RoundTripLeavesRestoredCleared) {
  TransferParams params = Params(kId, "/home/u/dl");
  params.restored = 1;
  ASSERT_TRUE(store_.Save(kId, TransferManifest(params)));
  TransferManifest loaded;
  loaded.params.restored = 1;
  ASSERT_TRUE(Load(kId, loaded));
  EXPECT_EQ(loaded.params.transferId, kId);
  EXPECT_EQ(loaded.params.partnerId, "p");
  EXPECT_EQ(loaded.params.packageId, "k");
  EXPECT_EQ(loaded.params.versionId, "?");
  EXPECT_EQ(loaded.params.destPath, "/home/u/dl");
  EXPECT_EQ(loaded.params.restored, 0);
}

TEST_F(TransferManifestStoreTest, SecondSaveFailsAndKeepsTheFirstDocument) {
  ASSERT_TRUE(store_.Save(kId, TransferManifest(Params(kId, "/first"))));
  const std::string first = Read(kId);
  EXPECT_FALSE(store_.Save(kId, TransferManifest(Params(kId, "/second"))));
  EXPECT_EQ(Read(kId), first);
}

TEST_F(TransferManifestStoreTest, RemoveDeletesOnlyWhatExists) {
  EXPECT_FALSE(store_.Remove(kId));
  ASSERT_TRUE(store_.Save(kId, TransferManifest(Params(kId, "/d"))));
  EXPECT_TRUE(store_.Remove(kId));
  EXPECT_FALSE(fs::exists(FileOf(kId)));
  TransferManifest loaded;
  EXPECT_FALSE(Load(kId, loaded));
}

TEST_F(TransferManifestStoreTest, AnyWellFormedObjectWithTheFiveMembersLoads) {
  Put("t",
      "{\n  \"destPath\" : \"\\/d\\u00e9\",\"extra\": {\"n\": [1, 2]},\n"
      "\"versionId\":\"3\", \"packageId\":\"k\",\t\"partnerId\":\"p\",\r\n"
      "\"transferId\":\"t\"}");
  TransferManifest loaded;
  ASSERT_TRUE(Load("t", loaded));
  EXPECT_EQ(loaded.params.transferId, "t");
  EXPECT_EQ(loaded.params.versionId, "3");
  EXPECT_EQ(loaded.params.destPath, "/d\xC3\xA9");
}

TEST_F(TransferManifestStoreTest, DocumentsThatAreNotOursDoNotLoad) {
  const std::string good = R"("transferId":"t","partnerId":"p","packageId":"k","versionId":"?")";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"missing destPath", "{" + good + "}"},
      {"destPath an object", "{" + good + R"(,"destPath":{"a":"b"}})"},
      {"destPath an array", "{" + good + R"(,"destPath":["a"]})"},
      {"truncated", "{" + good + R"(,"destPath":"/d")"},
      {"not JSON", "transferId=t"},
      {"empty", ""},
      {"an array", R"(["t","p","k","?","/d"])"},
      {"not UTF-8", "{" + good + ",\"destPath\":\"\xFF\"}"},
      {"lone surrogate", "{" + good + R"(,"destPath":"\uD800"})"},
  };
  for (const auto& [what, text] : cases) {
    Put("t", text);
    TransferManifest loaded;
    EXPECT_FALSE(Load("t", loaded)) << what;
  }
  TransferManifest loaded;
  EXPECT_FALSE(Load("absent", loaded));
}

TEST_F(TransferManifestStoreTest, OversizedFilesAreRefusedUnread) {
  const std::string padding(TempFileManifestStoreImpl::kMaxDocumentSize, ' ');
  Put("t", R"({"transferId":"t","partnerId":"p","packageId":"k","versionId":"?","destPath":"/d"})" +
               padding);
  TransferManifest loaded;
  EXPECT_FALSE(Load("t", loaded));
}

TEST_F(TransferManifestStoreTest, KeysThatAreNotPlainNamesAreRefused) {
  for (const std::string& key :
       std::vector<std::string>{"", "../escape", "a/b", std::string("a\0b", 3)}) {
    EXPECT_FALSE(store_.Save(key, TransferManifest(Params(key, "/d")))) << key;
    EXPECT_FALSE(store_.Remove(key)) << key;
    TransferManifest loaded;
    EXPECT_FALSE(Load(key, loaded)) << key;
  }
  EXPECT_FALSE(fs::exists(fs::path(dir_.path()) / "Orvanta/Pellaris/escape.json"));
  EXPECT_FALSE(fs::exists(fs::path(dir_.path()) / kFolder / "a"));
}

TEST_F(TransferManifestStoreTest, TextThatIsNotUtf8IsNotSaved) {
  EXPECT_FALSE(store_.Save("bad", TransferManifest(Params("bad", "/d\xC3"))));
  EXPECT_FALSE(fs::exists(FileOf("bad")));
}

// A file that opens but cannot be written, as on a full or failing disk.
class UnwritableFile : public SharedFile {
 public:
  UnwritableFile() : SharedFile(0, std::numeric_limits<std::uint64_t>::max()) {}
  std::uint64_t GetPosition() override { return 0; }
  void SetPosition(std::uint64_t) override {}
  std::uint32_t Read(void*, std::uint32_t) override { return 0; }
  std::uint32_t Write(const void*, std::uint32_t) override {
    throw std::runtime_error("disk full");
  }
  std::uint64_t GetSize() override { return 0; }
  bool Allocate(std::uint64_t) override { return false; }
  bool AllowExecute() override { return false; }
  bool DenyExecute() override { return false; }
  void WriteAt(std::uint64_t, const void*, std::size_t) override {
    throw std::runtime_error("disk full");
  }
  std::size_t ReadAt(std::uint64_t, void*, std::size_t) override { return 0; }
  bool Sync() override { return false; }
  std::shared_ptr<MemoryMappedFileData> Map() override { return nullptr; }
  std::shared_ptr<MemoryMappedFileData> Map(std::uint64_t, std::uint64_t) override {
    return nullptr;
  }
};

// Creates the real file, then hands out one that fails every write.
class UnwritableFiles : public PosixSharedFileFactory {
 public:
  std::shared_ptr<SharedFile> OpenFile(const std::string& folder, const std::string& relativePath,
                                       FileOpenMode mode, std::uint64_t first,
                                       std::uint64_t last) override {
    PosixSharedFileFactory::OpenFile(folder, relativePath, mode, first, last);
    return std::make_shared<UnwritableFile>();
  }
};

TEST_F(TransferManifestStoreTest, AFailedWriteLeavesNoFileBehind) {
  UnwritableFiles files;
  JsonTempFileManifestStore<TransferManifest> store(kFolder, &files);
  EXPECT_FALSE(store.Save(kId, TransferManifest(Params(kId, "/d"))));
  EXPECT_FALSE(fs::exists(FileOf(kId)));
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{});
  // So the next attempt with a working disk succeeds, and leaves only the
  // document itself.
  EXPECT_TRUE(store_.Save(kId, TransferManifest(Params(kId, "/d"))));
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{std::string(kId) + ".json"});
}

// Writes the first `keep` bytes of every write, then ends the process on the
// spot, as a kill or a power loss during the write would. Run in a forked
// child.
class DyingFile : public PosixSharedFile {
 public:
  DyingFile(const std::string& folder, const std::string& path, std::uint32_t keep)
      : PosixSharedFile(folder, path, FileOpenMode::CreateNew, 0,
                        std::numeric_limits<std::uint64_t>::max()),
        keep_(keep) {}
  std::uint32_t Write(const void* buffer, std::uint32_t count) override {
    PosixSharedFile::Write(buffer, std::min(count, keep_));
    ::_exit(0);
  }

 private:
  const std::uint32_t keep_;
};

class DyingFiles : public PosixSharedFileFactory {
 public:
  explicit DyingFiles(std::uint32_t keep) : keep_(keep) {}
  std::shared_ptr<SharedFile> OpenFile(const std::string& folder, const std::string& relativePath,
                                       FileOpenMode, std::uint64_t, std::uint64_t) override {
    return std::make_shared<DyingFile>(folder, relativePath, keep_);
  }

 private:
  const std::uint32_t keep_;
};

// Memory that runs out while a stored document is read says nothing about the
// document: it is reported as that, neither unreadable nor damaged.
class StarvedFile : public PosixSharedFile {
 public:
  using PosixSharedFile::PosixSharedFile;
  std::uint32_t Read(void*, std::uint32_t) override { throw std::bad_alloc(); }
};

class StarvedFiles : public PosixSharedFileFactory {
 public:
  std::shared_ptr<SharedFile> OpenFile(const std::string& folder, const std::string& relativePath,
                                       FileOpenMode mode, std::uint64_t first,
                                       std::uint64_t last) override {
    return std::make_shared<StarvedFile>(folder, relativePath, mode, first, last);
  }
};

TEST_F(TransferManifestStoreTest, RunningOutOfMemoryWhileReadingIsNoDamagedDocument) {
  ASSERT_TRUE(store_.Save(kId, TransferManifest(Params(kId, "/d"))));
  StarvedFiles files;
  JsonTempFileManifestStore<TransferManifest> starved(kFolder, &files);
  TransferManifest loaded;
  EXPECT_EQ(starved.TryLoad(kId, loaded), StoredDocument::OutOfMemory);
  EXPECT_TRUE(Load(kId, loaded));
}

TEST_F(TransferManifestStoreTest, AProcessDyingWhileSavingLeavesTheKeyFree) {
  for (const std::uint32_t keep : {0u, 20u}) {
    SCOPED_TRACE(keep);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      DyingFiles files(keep);
      JsonTempFileManifestStore<TransferManifest> store(kFolder, &files);
      store.Save(kId, TransferManifest(Params(kId, "/d")));
      ::_exit(1);  // not reached when the write ends the process
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    // No torn document under the key: the transfer saves and loads afresh.
    EXPECT_FALSE(fs::exists(FileOf(kId)));
    ASSERT_TRUE(store_.Save(kId, TransferManifest(Params(kId, "/d"))));
    TransferManifest loaded;
    EXPECT_TRUE(Load(kId, loaded));
    ASSERT_TRUE(store_.Remove(kId));
  }
}

// A folder no document can be created in (a file in its place, or one that
// others may write in) fails the write with a manifest error, as an
// unwritable file does, and Save answers false.
TEST_F(TransferManifestStoreTest, AFolderThatCannotTakeTheDocumentIsAManifestError) {
  const fs::path folder = FileOf(kId).parent_path();
  for (const bool fileInPlace : {true, false}) {
    fs::create_directories(fileInPlace ? folder.parent_path() : folder);
    if (fileInPlace) std::ofstream(folder) << "x";
    if (!fileInPlace) fs::permissions(folder, fs::perms::all);
    JsonTempFileManifestStoreImpl impl(kFolder, &files_);
    EXPECT_THROW(impl.Write(kId, TransferManifest(Params(kId, "/d"))), ManifestLocatorException);
    EXPECT_FALSE(store_.Save(kId, TransferManifest(Params(kId, "/d"))));
    fs::remove_all(folder);
  }
}

TEST_F(TransferManifestStoreTest, TornDocumentsAreUnusableAndCanBeSetAside) {
  const std::string whole =
      R"({"transferId":"t","partnerId":"p","packageId":"k","versionId":"?","destPath":"/d"})";
  for (const std::string& text :
       {std::string(), whole.substr(0, whole.size() / 2), std::string(200000, '['),
        std::string(200000, '{') + "\"",
        std::string(TempFileManifestStoreImpl::kMaxDocumentSize + 1, ' ')}) {
    SCOPED_TRACE(text.substr(0, 40));
    Put("t", text);
    TransferManifest loaded;
    std::string reason;
    EXPECT_EQ(store_.TryLoad("t", loaded, &reason), StoredDocument::Unusable);
    EXPECT_FALSE(reason.empty());
    std::string aside;
    ASSERT_TRUE(store_.SetAside("t", &aside));
    EXPECT_FALSE(fs::exists(FileOf("t")));
    EXPECT_EQ(aside.rfind("t.json.", 0), 0u) << aside;
    EXPECT_TRUE(fs::exists(FileOf("t").parent_path() / aside));
    // The key is free again.
    EXPECT_TRUE(store_.Save("t", TransferManifest(Params("t", "/d"))));
    EXPECT_TRUE(store_.Load("t", loaded));
    ASSERT_TRUE(store_.Remove("t"));
  }
  // What cannot be opened is absent, not unusable, and is never set aside.
  TransferManifest loaded;
  EXPECT_EQ(store_.TryLoad("absent", loaded), StoredDocument::Absent);
  EXPECT_FALSE(store_.SetAside("absent"));
}

TEST(JsonNestingDepthTest, CountsBracketsOutsideStrings) {
  EXPECT_EQ(JsonNestingDepth(""), 0u);
  EXPECT_EQ(JsonNestingDepth(R"({"a":[1,{"b":[]}]})"), 4u);
  EXPECT_EQ(JsonNestingDepth(R"({"a":"[[[{{{"})"), 1u);
  EXPECT_EQ(JsonNestingDepth(R"({"a\"[[":"\\"}[[)"), 2u);
  EXPECT_EQ(JsonNestingDepth("]]]][["), 2u);
}

TEST(TransferManifestTest, ParseNeedsEveryIdentifierAndResetsFirst) {
  ptree tree;
  tree.put("transferId", "t");
  tree.put("partnerId", "p");
  tree.put("packageId", "k");
  tree.put("versionId", "v");
  TransferManifest manifest(Params("old", "/old"));
  EXPECT_THROW(manifest.Parse(tree), ManifestParseException);
  tree.put("destPath", "/d");
  tree.put("restored", "1");
  manifest.Parse(tree);
  EXPECT_EQ(manifest.params.transferId, "t");
  EXPECT_EQ(manifest.params.destPath, "/d");
  EXPECT_EQ(manifest.params.restored, 0);
}

}  // namespace
}  // namespace velmo
