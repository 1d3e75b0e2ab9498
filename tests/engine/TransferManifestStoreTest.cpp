#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/TempDir.h"
#include "velmo/engine/JsonTempFileManifestStore.h"
#include "velmo/engine/TransferManifest.h"
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
  // So the next attempt with a working disk succeeds.
  EXPECT_TRUE(store_.Save(kId, TransferManifest(Params(kId, "/d"))));
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
