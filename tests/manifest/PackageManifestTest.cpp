#include <gtest/gtest.h>

#include <limits>

#include "ManifestTestSupport.h"
#include "velmo/manifest/ManifestExceptions.h"
#include "velmo/manifest/PackageManifestFactory.h"
#include "velmo/manifest/StandardFileManifest.h"
#include "velmo/manifest/StandardPackageManifest.h"

namespace velmo {
namespace {

using test::ManifestDataFile;
using test::XmlTree;

// Each document is read both ways the engine reads one, whole (a stored copy)
// and with its files streamed (a fetched one), and both must agree.
StandardPackageManifest ParsePackage(const std::string& xml) {
  StandardPackageManifest streamed;
  bool streamedFailed = false;
  try {
    const XmlStreamedElements files{streamed.StreamedPath(),
                                    [&](const auto& file) { streamed.ParseStreamed(file); }};
    std::istringstream in(xml);
    boost::property_tree::ptree tree;
    ReadXmlManifest(in, tree, &files);
    streamed.Parse(tree);
  } catch (const ManifestParseException&) {
    streamedFailed = true;
  }
  StandardPackageManifest manifest;
  try {
    manifest.Parse(XmlTree(xml));
  } catch (...) {
    EXPECT_TRUE(streamedFailed) << "only the whole tree was refused";
    throw;
  }
  EXPECT_FALSE(streamedFailed) << "only the streamed files were refused";
  EXPECT_EQ(streamed.GetFiles().size(), manifest.GetFiles().size());
  return manifest;
}

std::string PackageWithFiles(const std::string& files, const std::string& run = "") {
  return R"(<package id="pkg" name="n" partnerId="p" versionId="v")" +
         (run.empty() ? std::string() : " run=\"" + run + "\"") + "><files>" + files +
         "</files></package>";
}

std::string File(const std::string& path, const std::string& chunkSize, const std::string& size,
                 const std::string& checksums) {
  return "<file path=\"" + path + "\" chunksize=\"" + chunkSize + "\" size=\"" + size +
         "\" checksums=\"" + checksums + "\"/>";
}

void ExpectSamePackage(const PackageManifest& a, const PackageManifest& b) {
  EXPECT_EQ(a.GetId(), b.GetId());
  EXPECT_EQ(a.GetName(), b.GetName());
  EXPECT_EQ(a.GetPartnerId(), b.GetPartnerId());
  EXPECT_EQ(a.GetVersionId(), b.GetVersionId());
  EXPECT_EQ(a.GetRun(), b.GetRun());
  ASSERT_EQ(a.GetFiles().size(), b.GetFiles().size());
  for (std::size_t i = 0; i < a.GetFiles().size(); ++i) {
    const auto& fa = *a.GetFiles()[i];
    const auto& fb = *b.GetFiles()[i];
    EXPECT_EQ(fa.GetPath(), fb.GetPath());
    EXPECT_EQ(fa.GetChunkSize(), fb.GetChunkSize());
    EXPECT_EQ(fa.GetSize(), fb.GetSize());
    EXPECT_EQ(fa.GetChecksums(), fb.GetChecksums());
  }
}

TEST(PackageManifestTest, AttributeAndElementFormsParseAlike) {
  const auto byAttributes = ParsePackage(ManifestDataFile("package-attributes.xml"));
  const auto byElements = ParsePackage(ManifestDataFile("package-elements.xml"));
  ExpectSamePackage(byAttributes, byElements);

  EXPECT_EQ(byAttributes.GetId(), "pkg");
  EXPECT_EQ(byAttributes.GetName(), "Sample Package");
  EXPECT_EQ(byAttributes.GetRun(), "bin/app.exe");
  const auto files = byAttributes.GetFiles();
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[0]->GetChunkCount(), 3u);
  EXPECT_EQ(files[0]->GetChecksums(),
            (std::vector<std::uint32_t>{0x0123abcdu, 0xdeadbeefu, 0x00000000u}));
  EXPECT_EQ(files[2]->GetChunkCount(), 0u);
  EXPECT_TRUE(files[2]->GetChecksums().empty());
  EXPECT_EQ(byAttributes.GetTotalSize(), 2500000u + 4096u);

  ASSERT_TRUE(byAttributes.GetRunFile());
  EXPECT_EQ(byAttributes.GetRunFile(), files[1]);
  EXPECT_EQ(byAttributes.GetRunFiles(), FileManifestList{files[1]});
  EXPECT_EQ(byAttributes.GetOtherFiles(), (FileManifestList{files[0], files[2]}));
}

TEST(PackageManifestTest, IdentityFieldsAreRequiredAndNonEmpty) {
  const std::string fields[] = {"id", "name", "partnerId", "versionId"};
  for (const auto& omitted : fields) {
    std::string missing = "<package";
    std::string empty = "<package";
    for (const auto& field : fields) {
      if (field != omitted) missing += " " + field + "=\"x\"";
      empty += " " + field + "=\"" + (field == omitted ? "" : "x") + "\"";
    }
    SCOPED_TRACE(omitted);
    EXPECT_THROW(ParsePackage(missing + "><files/></package>"), ManifestParseException);
    EXPECT_THROW(ParsePackage(empty + "><files/></package>"), ManifestParseException);
  }
  EXPECT_THROW(ParsePackage(R"(<other id="a"/>)"), ManifestParseException);
  EXPECT_THROW(ParsePackage(R"(<package id="a" name="n" partnerId="p" versionId="v"/>)"),
               ManifestParseException);
}

TEST(PackageManifestTest, FilesMayOnlyHoldFileElements) {
  const auto empty = ParsePackage(PackageWithFiles(""));
  EXPECT_TRUE(empty.GetFiles().empty());
  EXPECT_FALSE(empty.GetRunFile());
  EXPECT_EQ(empty.GetTotalSize(), 0u);

  const std::string file = File("a", "4", "4", "00000000");
  EXPECT_THROW(ParsePackage(PackageWithFiles(file + "<!-- comment -->")), ManifestParseException);
  EXPECT_THROW(ParsePackage(PackageWithFiles(file + "<other/>")), ManifestParseException);
  EXPECT_THROW(ParsePackage(R"(<package id="pkg" name="n" partnerId="p" versionId="v">)"
                            R"(<files count="1">)" +
                            file + "</files></package>"),
               ManifestParseException);
  // Text between the file elements is the value of `files`, not a child.
  EXPECT_EQ(ParsePackage(PackageWithFiles("\n  " + file + "\n")).GetFiles().size(), 1u);
}

TEST(PackageManifestTest, RunMustNameAFile) {
  const std::string files = File("a", "4", "4", "00000000") + File("b", "4", "4", "00000000");
  EXPECT_THROW(ParsePackage(PackageWithFiles(files, "c")), ManifestParseException);
  EXPECT_THROW(ParsePackage(PackageWithFiles("", "a")), ManifestParseException);
  const auto manifest = ParsePackage(PackageWithFiles(files, "b"));
  EXPECT_EQ(manifest.GetRunFile()->GetPath(), "b");
  EXPECT_EQ(manifest.GetOtherFiles().size(), 1u);
  EXPECT_EQ(manifest.GetOtherFiles()[0]->GetPath(), "a");
}

TEST(PackageManifestTest, ChecksumTextLengthMustMatchChunkCount) {
  // 9 bytes in chunks of 4: three chunks, 24 digits.
  const std::string good(24, 'a');
  EXPECT_EQ(
      ParsePackage(PackageWithFiles(File("a", "4", "9", good))).GetFiles()[0]->GetChunkCount(), 3u);
  for (const std::string& text : {std::string(23, 'a'), std::string(25, 'a'), std::string(16, 'a'),
                                  std::string(32, 'a'), std::string()}) {
    SCOPED_TRACE(text.size());
    EXPECT_THROW(ParsePackage(PackageWithFiles(File("a", "4", "9", text))), ManifestParseException);
  }
  EXPECT_THROW(ParsePackage(PackageWithFiles(File("a", "4", "0", "00000000"))),
               ManifestParseException);
}

TEST(PackageManifestTest, Sha256sAreAnOptionalAttributeParsedStrictly) {
  // 9 bytes in chunks of 4: three chunks, 3 x 64 digits.
  const std::string crcs(24, '0');
  const auto withSha = [&](const std::string& sha) {
    return "<file path=\"a\" chunksize=\"4\" size=\"9\" checksums=\"" + crcs + "\" sha256=\"" +
           sha + "\"/>";
  };
  std::string sha = std::string(64, '0') + std::string(64, 'f');
  sha += "0123456789abcdef0123456789abcdef0123456789abcdef0123456789ABCDEF";
  const auto files = ParsePackage(PackageWithFiles(withSha(sha))).GetFiles();
  ASSERT_EQ(files[0]->GetSha256s().size(), 3u);
  EXPECT_TRUE(files[0]->HasStrongHashes());
  EXPECT_EQ(Sha256Hex(files[0]->GetSha256s()[0]), std::string(64, '0'));
  EXPECT_EQ(Sha256Hex(files[0]->GetSha256s()[1]), std::string(64, 'f'));
  EXPECT_EQ(files[0]->GetSha256s()[2][31], 0xef);

  // Without it: the CRC-32 form as before, and no strong hashes (except for a
  // file with no chunk, which has nothing to pin).
  const auto old =
      ParsePackage(PackageWithFiles(File("a", "4", "9", crcs) + File("e", "4", "0", "")))
          .GetFiles();
  EXPECT_TRUE(old[0]->GetSha256s().empty());
  EXPECT_FALSE(old[0]->HasStrongHashes());
  EXPECT_TRUE(old[1]->HasStrongHashes());

  for (const std::string& bad :
       {sha.substr(1), sha + "0", sha.substr(0, 128), std::string(), sha.substr(0, 191) + "g",
        " " + sha.substr(1), sha.substr(0, 64) + "-" + sha.substr(65)}) {
    SCOPED_TRACE(bad.size());
    EXPECT_THROW(ParsePackage(PackageWithFiles(withSha(bad))), ManifestParseException);
  }
}

TEST(PackageManifestTest, NumbersMustBePlainDecimals) {
  for (const char* size : {"-1", "+4", "4x", "0x10", "", "1e3", "18446744073709551616"}) {
    SCOPED_TRACE(size);
    EXPECT_THROW(ParsePackage(PackageWithFiles(File("a", "4", size, ""))), ManifestParseException);
  }
  // Pretty-printed element text keeps its surrounding white space.
  const auto manifest = ParsePackage(
      PackageWithFiles("<file><path>a</path><chunksize>\n 4 \n</chunksize><size> 4 </size>"
                       "<checksums>0000000A</checksums></file>"));
  EXPECT_EQ(manifest.GetFiles()[0]->GetChecksums(), std::vector<std::uint32_t>{10u});
}

TEST(PackageManifestTest, HostileDocumentsAreInvalid) {
  for (const char* name : {"hostile-path-dotdot.xml",
                           "hostile-path-inner-dotdot.xml",
                           "hostile-path-absolute.xml",
                           "hostile-path-empty.xml",
                           "hostile-path-dot.xml",
                           "hostile-path-nul.xml",
                           "hostile-size-negative.xml",
                           "hostile-size-absurd.xml",
                           "hostile-size-too-large.xml",
                           "hostile-chunks-overflow.xml",
                           "hostile-chunks-max-short-checksums.xml",
                           "hostile-chunksize-zero.xml",
                           "hostile-chunksize-too-large.xml",
                           "hostile-checksums-not-hex.xml",
                           "hostile-malformed.xml",
                           "hostile-truncated.xml",
                           "hostile-duplicate-path.xml",
                           "hostile-path-trailing-slash.xml",
                           "hostile-path-trailing-slashes.xml",
                           "hostile-path-trailing-dot.xml"}) {
    SCOPED_TRACE(name);
    EXPECT_THROW(ParsePackage(ManifestDataFile(name)), ManifestParseException);
  }
}

TEST(PackageManifestTest, EntitiesOfADocumentTypeAreNotExpanded) {
  const auto manifest = ParsePackage(ManifestDataFile("entity-not-expanded.xml"));
  EXPECT_LT(manifest.GetId().size(), 16u);
}

TEST(PackageManifestTest, FailedParseLeavesTheManifestUnchanged) {
  StandardPackageManifest manifest;
  manifest.Parse(XmlTree(ManifestDataFile("package-attributes.xml")));
  EXPECT_THROW(manifest.Parse(XmlTree(PackageWithFiles(File("../x", "4", "4", "00000000")))),
               ManifestParseException);
  EXPECT_EQ(manifest.GetId(), "pkg");
  EXPECT_EQ(manifest.GetFiles().size(), 3u);
}

TEST(FileManifestTest, ContainedPaths) {
  for (const char* path : {"a", "a/b", "a/./b", "a..b/c", "..a", "a/b..", ".hidden", "a b/c"}) {
    EXPECT_TRUE(IsContainedRelativePath(path)) << path;
  }
  for (const char* path :
       {"", "/", "/a", "..", "../a", "a/..", "a/../b", "a//..//b", ".", "./", "//"}) {
    EXPECT_FALSE(IsContainedRelativePath(path)) << path;
  }
  EXPECT_FALSE(IsContainedRelativePath(std::string("a\0b", 3)));
}

TEST(FileManifestTest, ChunkCountBoundaries) {
  constexpr auto kMax64 = std::numeric_limits<std::uint64_t>::max();
  constexpr auto kMax32 = std::numeric_limits<std::uint32_t>::max();
  EXPECT_EQ(ChunkCount(0, 0), 0u);
  EXPECT_EQ(ChunkCount(100, 0), 0u);
  EXPECT_EQ(ChunkCount(0, 4), 0u);
  EXPECT_EQ(ChunkCount(1, 4), 1u);
  EXPECT_EQ(ChunkCount(4, 4), 1u);
  EXPECT_EQ(ChunkCount(5, 4), 2u);
  EXPECT_EQ(ChunkCount(2500000, 1048576), 3u);
  EXPECT_EQ(ChunkCount(kMax32, 1), kMax32);
  EXPECT_THROW(ChunkCount(std::uint64_t{kMax32} + 1, 1), ManifestOverflowException);
  // size + chunkSize - 1 itself overflows 64 bits.
  EXPECT_THROW(ChunkCount(kMax64, 2), ManifestOverflowException);
  EXPECT_THROW(ChunkCount(kMax64, kMax32), ManifestOverflowException);
  EXPECT_EQ(ChunkCount(std::uint64_t{kMax32} * kMax32, kMax32), kMax32);
  EXPECT_THROW(ChunkCount(std::uint64_t{kMax32} * kMax32 + 1, kMax32), ManifestOverflowException);
}

}  // namespace
}  // namespace velmo

namespace velmo {
namespace {

TEST(PackageManifestMatchTest, KeyWithAndWithoutVersion) {
  StandardPackageManifest manifest;
  manifest.Parse(test::XmlTree(
      R"(<package id="pkg" name="n" partnerId="p" versionId="1.0/beta"><files/></package>)"));
  EXPECT_TRUE(PackageManifestMatchesKey(manifest, "pkg"));
  EXPECT_TRUE(PackageManifestMatchesKey(manifest, "pkg/1.0/beta"));
  EXPECT_FALSE(PackageManifestMatchesKey(manifest, "pkg/1.0"));
  EXPECT_FALSE(PackageManifestMatchesKey(manifest, "PKG"));
  EXPECT_FALSE(PackageManifestMatchesKey(manifest, "pk"));
  EXPECT_FALSE(PackageManifestMatchesKey(manifest, "pkg/1.0/Beta"));
}

}  // namespace
}  // namespace velmo
