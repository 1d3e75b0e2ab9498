// Signed publishing: key files, detached signatures over the written bytes,
// expiry times, and renewal by publishing again.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "Publisher.h"
#include "Signing.h"
#include "support/TempDir.h"
#include "velmo/manifest/Base64.h"
#include "velmo/manifest/Ed25519.h"
#include "velmo/manifest/ManifestTrust.h"
#include "velmo/manifest/StandardNodeListManifest.h"
#include "velmo/manifest/XmlManifestReader.h"

namespace velmo::publish {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

boost::property_tree::ptree Root(const std::string& xml) {
  std::istringstream in(xml);
  boost::property_tree::ptree tree;
  ReadXmlManifest(in, tree);
  return tree.front().second;
}

class PublishSigningTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_ / "src");
    std::ofstream(dir_ / "src/app.sh", std::ios::binary) << std::string(2500, 'a');
    options_.partnerId = "p1";
    options_.packageId = "game";
    options_.versionId = "1.0";
    options_.name = "Game";
    options_.run = "app.sh";
    options_.chunkSize = 1000;
    options_.tree = dir_ / "tree";
    options_.source = dir_ / "src";
    publicKey_ = WriteKeyPair(dir_ / "key");
    options_.sign.privateKey = ReadPrivateKey(dir_ / "key");
    options_.sign.expires = *ParseExpiryTime("2999-01-01T00:00:00Z");
  }

  fs::path Manifest(const std::string& name) const {
    return fs::path(dir_ / "tree/manifests/game") / (name + ".xml");
  }

  test::TempDir dir_;
  PackageOptions options_;
  std::string publicKey_;
};

TEST_F(PublishSigningTest, KeygenWritesAPrivateKeyOnlyItsOwnerReadsAndItsPublicHalf) {
  struct stat info {};
  ASSERT_EQ(::stat((dir_ / "key").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  const std::string privateText = ReadFile(dir_ / "key");
  const std::string publicText = ReadFile(dir_ / "key.pub");
  EXPECT_EQ(std::count(privateText.begin(), privateText.end(), '\n'), 1);
  EXPECT_EQ(publicText, publicKey_ + "\n");
  ASSERT_TRUE(IsEncodedPublicKey(publicKey_));
  EXPECT_EQ(EncodeBase64(Ed25519PublicKey(ReadPrivateKey(dir_ / "key"))), publicKey_);
  // A key is never replaced, not even its public half alone.
  EXPECT_THROW(WriteKeyPair(dir_ / "key"), PublishError);
  std::ofstream(dir_ / "other.pub") << "x";
  EXPECT_THROW(WriteKeyPair(dir_ / "other"), PublishError);
  EXPECT_FALSE(fs::exists(dir_ / "other"));
  std::ofstream(dir_ / "bad") << "not a key\n";
  EXPECT_THROW(ReadPrivateKey(dir_ / "bad"), PublishError);
  EXPECT_THROW(ReadPrivateKey(dir_ / "missing"), PublishError);
}

TEST_F(PublishSigningTest, EachManifestGetsASignatureOfItsExactBytesAndAnExpiry) {
  PublishPackage(options_);
  const ManifestTrust trust({publicKey_}, [] { return std::int64_t{0}; });
  for (const char* name : {"1.0", "current"}) {
    SCOPED_TRACE(name);
    const std::string document = ReadFile(Manifest(name));
    EXPECT_NO_THROW(trust.VerifySignature(document, ReadFile(Manifest(name).string() + ".sig")));
    EXPECT_NO_THROW(trust.CheckExpiry(Root(document)));
    EXPECT_NE(document.find("<package expires=\"2999-01-01T00:00:00Z\">"), std::string::npos);
  }

  const std::string path =
      PublishNodes(dir_ / "tree", "p1", {ParseNodeSpec("n1=127.0.0.1:1")}, options_.sign);
  const std::string nodeList = ReadFile(fs::path(dir_ / "tree") / path);
  EXPECT_NO_THROW(
      trust.VerifySignature(nodeList, ReadFile(fs::path(dir_ / "tree") / (path + ".sig"))));
  EXPECT_NO_THROW(trust.CheckExpiry(Root(nodeList)));
  // Old readers take the signed node list as before.
  std::istringstream in(nodeList);
  boost::property_tree::ptree tree;
  ReadXmlManifest(in, tree);
  StandardNodeListManifest parsed;
  parsed.Parse(tree);
  EXPECT_EQ(parsed.GetNodes().size(), 1u);
}

TEST_F(PublishSigningTest, PublishingAgainRenewsTheExpiryAndUnsignedDropsTheSignature) {
  PublishPackage(options_);
  options_.sign.expires = *ParseExpiryTime("3000-01-01T00:00:00Z");
  PublishPackage(options_);  // same content, new expiry: renewal, not a new version
  const std::string renewed = ReadFile(Manifest("1.0"));
  EXPECT_NE(renewed.find("3000-01-01T00:00:00Z"), std::string::npos);
  const ManifestTrust trust({publicKey_});
  EXPECT_NO_THROW(trust.VerifySignature(renewed, ReadFile(Manifest("1.0").string() + ".sig")));

  // Other content under the same version is still refused, signed or not.
  std::ofstream(dir_ / "src/app.sh", std::ios::binary) << std::string(2500, 'b');
  EXPECT_THROW(PublishPackage(options_), PublishError);
  std::ofstream(dir_ / "src/app.sh", std::ios::binary) << std::string(2500, 'a');

  options_.sign = SignOptions();
  PublishPackage(options_);
  EXPECT_EQ(ReadFile(Manifest("1.0")).find("expires"), std::string::npos);
  EXPECT_FALSE(fs::exists(Manifest("1.0").string() + ".sig"));
  EXPECT_FALSE(fs::exists(Manifest("current").string() + ".sig"));
}

TEST(ExpiresOptionTest, TakesDaysHoursOrATimeInTheFuture) {
  const std::int64_t now = *ParseExpiryTime("2030-06-01T00:00:00Z");
  EXPECT_EQ(ParseExpiresOption("30d", now), now + 30 * 86400);
  EXPECT_EQ(ParseExpiresOption("12h", now), now + 12 * 3600);
  EXPECT_EQ(ParseExpiresOption("2030-07-01T00:00:00Z", now), now + 30 * 86400);
  for (const char* text :
       {"", "d", "0d", "-1d", "1w", "1.5d", "30", "2030-05-01T00:00:00Z", "9999999d", "tomorrow"}) {
    EXPECT_THROW(ParseExpiresOption(text, now), PublishError) << text;
  }
}

TEST(ExpiryAttributeTest, IsPlacedOnTheRootElementOnlyAndRemovedWhole) {
  const std::string xml = "<?xml version=\"1.0\"?>\n<packages/>\n<package>\n  <x/>\n</package>\n";
  const std::string with = WithExpiry(xml, "package", 0);
  EXPECT_EQ(with,
            "<?xml version=\"1.0\"?>\n<packages/>\n<package expires=\"1970-01-01T00:00:00Z\">"
            "\n  <x/>\n</package>\n");
  EXPECT_EQ(WithoutExpiry(with, "package"), xml);
  EXPECT_EQ(WithExpiry(with, "package", 86400), WithExpiry(xml, "package", 86400));
  EXPECT_THROW(WithExpiry("<nodes/>", "package", 0), PublishError);
}

}  // namespace
}  // namespace velmo::publish
