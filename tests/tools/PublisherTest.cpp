#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "Publisher.h"
#include "support/TempDir.h"
#include "velmo/manifest/FileManifest.h"
#include "velmo/manifest/NodeManifest.h"
#include "velmo/manifest/StandardNodeListManifest.h"
#include "velmo/manifest/StandardPackageManifest.h"
#include "velmo/manifest/XmlManifestReader.h"

namespace velmo::publish {
namespace {

namespace fs = std::filesystem;

// Bitwise reflected CRC-32 (IEEE), independent of the library the publisher uses.
std::uint32_t SlowCrc32(const std::string& data) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (const char ch : data) {
    const auto c = static_cast<unsigned char>(ch);
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

class PublisherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_ / "src/bin");
    Write("src/bin/app.sh", std::string(2500, 'a') + "tail");
    Write("src/data.bin", Pattern(10000));
    Write("src/empty", "");
    options_.partnerId = "p1";
    options_.packageId = "game";
    options_.versionId = "1.0";
    options_.name = "A <Game> & more";
    options_.run = "bin/app.sh";
    options_.chunkSize = 1000;
    options_.tree = dir_ / "tree";
    options_.source = dir_ / "src";
  }
  void Write(const std::string& rel, const std::string& content) {
    std::ofstream(dir_ / rel, std::ios::binary) << content;
  }
  static std::string Pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + 7) & 0xFF);
    return s;
  }
  std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  StandardPackageManifest ParseManifest(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    boost::property_tree::ptree tree;
    ReadXmlManifest(in, tree);
    StandardPackageManifest manifest;
    manifest.Parse(tree);
    return manifest;
  }

  test::TempDir dir_;
  PackageOptions options_;
};

TEST_F(PublisherTest, EngineReadsWhatWasPublished) {
  auto result = PublishPackage(options_);
  auto manifest = ParseManifest(dir_ / "tree/manifests/game/1.0.xml");
  EXPECT_EQ(ReadFile(dir_ / "tree/manifests/game/current.xml"),
            ReadFile(dir_ / "tree/manifests/game/1.0.xml"));
  EXPECT_EQ(manifest.GetId(), "game");
  EXPECT_EQ(manifest.GetName(), "A <Game> & more");
  EXPECT_EQ(manifest.GetPartnerId(), "p1");
  EXPECT_EQ(manifest.GetVersionId(), "1.0");
  EXPECT_EQ(manifest.GetRun(), "bin/app.sh");
  ASSERT_TRUE(manifest.GetRunFile());

  auto files = manifest.GetFiles();
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[0]->GetPath(), "bin/app.sh") << "sorted by path";
  EXPECT_EQ(files[1]->GetPath(), "data.bin");
  EXPECT_EQ(files[2]->GetPath(), "empty");
  for (const auto& f : files) {
    std::string content = ReadFile(dir_ / ("src/" + f->GetPath()));
    EXPECT_EQ(f->GetSize(), content.size());
    EXPECT_EQ(f->GetChunkSize(), 1000u);
    ASSERT_EQ(f->GetChunkCount(), (content.size() + 999) / 1000);
    auto sums = f->GetChecksums();
    for (std::size_t i = 0; i < sums.size(); ++i) {
      EXPECT_EQ(sums[i], SlowCrc32(content.substr(i * 1000, 1000))) << f->GetPath() << " #" << i;
    }
    // Every chunk is pinned by its SHA-256 as well.
    EXPECT_TRUE(f->HasStrongHashes()) << f->GetPath();
    const auto strong = f->GetSha256s();
    ASSERT_EQ(strong.size(), sums.size());
    for (std::size_t i = 0; i < strong.size(); ++i) {
      const std::string chunk = content.substr(i * 1000, 1000);
      EXPECT_EQ(strong[i], Sha256Of(chunk.data(), chunk.size())) << f->GetPath() << " #" << i;
    }
    EXPECT_EQ(ReadFile(dir_ / ("tree/packages/p1/game/1.0/" + f->GetPath())), content);
  }
  EXPECT_EQ(result.linkedFiles + result.copiedFiles, 3u);
}

TEST_F(PublisherTest, RepublishingIsIdempotentButVersionsAreImmutable) {
  PublishPackage(options_);
  EXPECT_NO_THROW(PublishPackage(options_)) << "same content again is fine";
  // Replace the source file (a new inode): published files are hard links.
  fs::remove(dir_ / "src/data.bin");
  Write("src/data.bin", "changed");
  try {
    PublishPackage(options_);
    FAIL() << "changed content under the same version must be refused";
  } catch (const PublishError& e) {
    EXPECT_NE(std::string(e.what()).find("1.0.xml"), std::string::npos) << e.what();
  }
  EXPECT_EQ(ReadFile(dir_ / "tree/packages/p1/game/1.0/data.bin"), Pattern(10000));
  options_.versionId = "2.0";
  options_.updateCurrent = false;
  PublishPackage(options_);
  EXPECT_EQ(ParseManifest(dir_ / "tree/manifests/game/current.xml").GetVersionId(), "1.0");
}

TEST_F(PublisherTest, RefusalsNameTheFileAndReason) {
  auto expectRefused = [&](const PackageOptions& o, const std::string& fragment) {
    try {
      PublishPackage(o);
      ADD_FAILURE() << "not refused: " << fragment;
    } catch (const PublishError& e) {
      EXPECT_NE(std::string(e.what()).find(fragment), std::string::npos) << e.what();
    }
  };
  PackageOptions o = options_;
  o.run = "missing.exe";
  expectRefused(o, "--run missing.exe");
  o = options_;
  o.versionId = "current";
  expectRefused(o, "reserved");
  o = options_;
  o.packageId = "../x";
  expectRefused(o, "--package");
  o = options_;
  o.chunkSize = 0;
  expectRefused(o, "--chunk-size");

  fs::create_symlink("/etc/passwd", dir_ / "src/link");
  expectRefused(options_, "symbolic link");
  fs::remove(dir_ / "src/link");
  ASSERT_EQ(mkfifo((dir_ / "src/fifo").c_str(), 0600), 0);
  expectRefused(options_, "not a regular file");
  fs::remove(dir_ / "src/fifo");
  Write("src/bad\nname", "x");
  expectRefused(options_, "control character");
  EXPECT_FALSE(fs::exists(dir_ / "tree/manifests")) << "refusals publish nothing";
}

TEST(PublishNodesTest, EngineReadsTheNodeList) {
  test::TempDir dir;
  std::vector<NodeSpec> nodes = {ParseNodeSpec("n1=127.0.0.1:8081"),
                                 ParseNodeSpec("n2=host.example,path=/files/,weight=3")};
  EXPECT_EQ(PublishNodes(dir / "tree", "p1", nodes), "nodes/p1.xml");
  std::ifstream in(dir / "tree/nodes/p1.xml");
  boost::property_tree::ptree tree;
  ReadXmlManifest(in, tree);
  StandardNodeListManifest list;
  list.Parse(tree);
  auto parsed = list.GetNodes();
  ASSERT_EQ(parsed.size(), 2u);
  EXPECT_EQ(parsed[0]->GetNodeId(), "n1");
  EXPECT_EQ(parsed[0]->GetHost(), "127.0.0.1:8081");
  EXPECT_EQ(parsed[0]->GetPath(), "/packages/");
  EXPECT_EQ(parsed[0]->GetWeight(), 1);
  EXPECT_EQ(parsed[1]->GetPath(), "/files/");
  EXPECT_EQ(parsed[1]->GetWeight(), 3);

  EXPECT_THROW(ParseNodeSpec("nohost"), PublishError);
  EXPECT_THROW(ParseNodeSpec("n=h,weight=-1"), PublishError);
  EXPECT_THROW(ParseNodeSpec("n=h,speed=3"), PublishError);
  EXPECT_THROW(PublishNodes(dir / "tree", "p1", {}), PublishError);
}

}  // namespace
}  // namespace velmo::publish
