#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/Crc32Forgery.h"
#include "support/TempDir.h"
#include "support/TestPackage.h"
#include "velmo/engine/FileManifestCheck.h"
#include "velmo/file/PosixSharedFileFactory.h"
#include "velmo/manifest/PackageManifest.h"

namespace velmo {
namespace {

TEST(FileManifestCheckTest, NamesTheFirstBadChunkOrTheFailure) {
  test::TestPackage package;
  package.chunkSize = 1000;
  package.strongHashes = true;
  package.AddFile("p", 3500);
  const std::string good = package.files["p"];
  std::string flipped = good, forged = good;
  flipped[1500] = static_cast<char>(flipped[1500] ^ 1);
  forged.replace(2000, 1000, test::ForgeKeepingCrc32(good.substr(2000, 1000)));
  const struct {
    std::optional<std::string> contents;  // none: no file
    TransferError error;
    std::optional<std::uint32_t> chunk;
  } cases[] = {{good, TransferError::None, {}},
               {flipped, TransferError::ChecksumMismatch, 1},
               {forged, TransferError::ChecksumMismatch, 2},  // only the SHA-256 differs
               {good.substr(1), TransferError::ChecksumMismatch, {}},
               {{}, TransferError::FileAccessError, {}}};
  test::TempDir dir;
  PosixSharedFileFactory files;
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    std::filesystem::remove(dir / "p");
    if (c.contents) std::ofstream(dir / "p", std::ios::binary) << *c.contents;
    try {
      CheckFileAgainstManifest(files, dir.path(), *package.Manifest()->GetFiles().front());
      EXPECT_EQ(c.error, TransferError::None);
    } catch (const FileCheckError& error) {
      EXPECT_EQ(error.Error(), c.error) << error.what();
      EXPECT_EQ(error.Chunk(), c.chunk) << error.what();
    }
  }
}

}  // namespace
}  // namespace velmo
