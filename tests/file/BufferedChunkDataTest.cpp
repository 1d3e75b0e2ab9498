// Received chunks: nothing reaches the file before Commit, also when the chunk
// outgrows its buffer and is staged, the CRC-32 covers every byte taken in
// order, and the pool keeps its memory bounded.
#include <gtest/gtest.h>
#include <libdeflate.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/FailingSharedFileFactory.h"
#include "support/TempDir.h"
#include "velmo/file/BufferedChunkData.h"
#include "velmo/file/ChunkBufferPool.h"
#include "velmo/file/FileException.h"
#include "velmo/file/PosixSharedFileFactory.h"
#include "velmo/file/SharedFile.h"

namespace velmo {
namespace {

std::uint32_t Crc(const std::string& bytes) {
  return static_cast<std::uint32_t>(libdeflate_crc32(0, bytes.data(), bytes.size()));
}

std::string Pattern(std::size_t size, char seed) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i)
    s[i] = static_cast<char>(static_cast<std::size_t>(seed) + i * 7);
  return s;
}

class BufferedChunkDataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = files_.OpenFile(dir_.path(), "f.bin", FileOpenMode::OpenOrCreate, 0, 99);
    ASSERT_TRUE(file_->Allocate(100));
  }
  std::string Disk() {
    std::ifstream in(dir_ / "f.bin", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::shared_ptr<BufferedChunkData> Chunk(std::uint64_t first, std::uint64_t last,
                                           std::size_t bufferSize, bool sha256 = false) {
    pools_.push_back(std::make_unique<ChunkBufferPool>(bufferSize, 1 << 20));
    return std::make_shared<BufferedChunkData>(file_, first, last,
                                               pools_.back()->Acquire(last - first + 1), sha256);
  }

  test::TempDir dir_;
  PosixSharedFileFactory files_;
  std::shared_ptr<SharedFile> file_;
  std::vector<std::unique_ptr<ChunkBufferPool>> pools_;
};

TEST_F(BufferedChunkDataTest, AChunkThatFitsReachesTheFileOnlyOnCommit) {
  auto chunk = Chunk(20, 39, 64);
  const std::string bytes = Pattern(20, 'a');
  EXPECT_EQ(chunk->Write(bytes.data(), 7), 7u);
  EXPECT_EQ(chunk->Write(bytes.data() + 7, 13), 13u);
  EXPECT_TRUE(chunk->Complete());
  EXPECT_FALSE(chunk->Staged());
  EXPECT_EQ(chunk->Crc32(), Crc(bytes));
  EXPECT_EQ(Disk(), std::string(100, '\0'));  // a chunk that fails is never written

  chunk->Commit();
  EXPECT_EQ(Disk(), std::string(20, '\0') + bytes + std::string(60, '\0'));
}

TEST_F(BufferedChunkDataTest, BytesPastTheChunkAreRefusedAndNothingIsTaken) {
  auto chunk = Chunk(20, 39, 64);
  const std::string bytes = Pattern(21, 'x');
  EXPECT_THROW(chunk->Write(bytes.data(), 21), FileOutOfBoundsException);
  EXPECT_EQ(chunk->Received(), 0u);
  chunk->Write(bytes.data(), 20);
  EXPECT_THROW(chunk->Write(bytes.data(), 1), FileOutOfBoundsException);
  EXPECT_EQ(chunk->Crc32(), Crc(bytes.substr(0, 20)));
  // Only the first byte or the current position can be set.
  EXPECT_THROW(chunk->SetPosition(25), FileOutOfBoundsException);
  EXPECT_THROW(chunk->Read(nullptr, 1), std::logic_error);
}

TEST_F(BufferedChunkDataTest, ALargerChunkIsStagedAndReachesTheFileOnlyOnCommit) {
  auto chunk = Chunk(10, 89, 16);  // 80 bytes through a 16-byte buffer
  const std::string bytes = Pattern(80, 'k');
  // Uneven writes cross the piece boundaries.
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t n = std::min<std::size_t>(11, bytes.size() - at);
    chunk->Write(bytes.data() + at, static_cast<std::uint32_t>(n));
    at += n;
  }
  EXPECT_TRUE(chunk->Staged());
  EXPECT_EQ(chunk->Crc32(), Crc(bytes));
  // Full pieces went to the staging file, not to the destination.
  EXPECT_EQ(Disk(), std::string(100, '\0'));
  chunk->Commit();
  EXPECT_EQ(Disk().substr(10, 80), bytes);
  EXPECT_EQ(chunk->Received(), 0u) << "a committed copy is spent";

  // A copy that is rewound or dropped after staging (a loser, a bad copy)
  // leaves the file as it was.
  const std::string other = Pattern(80, 'z');
  chunk->Write(other.data(), 80);
  chunk->Rewind();
  chunk.reset();
  EXPECT_EQ(Disk().substr(10, 80), bytes);

  // A file that cannot copy within the kernel takes the staged bytes through
  // the buffer.
  auto plain = std::make_shared<test::FailingSharedFileFactory>(files_, ~std::uint64_t{0});
  file_ = plain->OpenFile(dir_.path(), "f.bin", FileOpenMode::OpenExisting, 0, 99);
  chunk = Chunk(10, 89, 16);
  chunk->Write(other.data(), 80);
  chunk->Commit();
  EXPECT_EQ(Disk().substr(10, 80), other);

  chunk = Chunk(10, 89, 16);
  chunk->Write(other.data(), 5);
  EXPECT_FALSE(chunk->Staged());
  EXPECT_EQ(chunk->Crc32(), Crc(other.substr(0, 5)));
}

TEST_F(BufferedChunkDataTest, TheSha256IsKeptOnlyWhenAskedAndFollowsEveryPiece) {
  auto plain = Chunk(0, 9, 16);
  EXPECT_FALSE(plain->HasSha256());
  EXPECT_THROW(plain->Sha256(), std::logic_error);

  // 80 bytes through a 16-byte buffer: the digest spans flushed pieces and
  // the bytes still in the buffer.
  auto chunk = Chunk(10, 89, 16, true);
  ASSERT_TRUE(chunk->HasSha256());
  const std::string bytes = Pattern(80, 's');
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t n = std::min<std::size_t>(13, bytes.size() - at);
    chunk->Write(bytes.data() + at, static_cast<std::uint32_t>(n));
    at += n;
    EXPECT_EQ(chunk->Sha256(), Sha256Of(bytes.data(), at)) << at;
  }
  EXPECT_TRUE(chunk->Staged());
  EXPECT_EQ(chunk->Crc32(), Crc(bytes));

  chunk->Rewind();
  EXPECT_EQ(chunk->Sha256(), Sha256Of("", 0));
  const std::string other = Pattern(40, 't');
  chunk->Write(other.data(), 40);
  EXPECT_EQ(chunk->Sha256(), Sha256Of(other.data(), other.size()));
}

TEST_F(BufferedChunkDataTest, PositionalAccessStaysInsideTheFileBounds) {
  const std::string bytes = Pattern(10, 'p');
  file_->WriteAt(90, bytes.data(), bytes.size());
  std::string back(10, '\0');
  EXPECT_EQ(file_->ReadAt(90, back.data(), back.size()), 10u);
  EXPECT_EQ(back, bytes);
  EXPECT_THROW(file_->WriteAt(91, bytes.data(), bytes.size()), FileOutOfBoundsException);
  EXPECT_THROW(file_->ReadAt(~std::uint64_t{0} - 2, back.data(), back.size()),
               FileOutOfBoundsException);
  file_->WriteAt(100, bytes.data(), 0);  // an empty write at the end is nothing
}

TEST(ChunkBufferPoolTest, BuffersAreReusedAndMemoryStaysWithinTheLimit) {
  ChunkBufferPool pool(1024, 3 * 1024);
  const std::uint8_t* first;
  {
    ChunkBuffer a = pool.Acquire(100);
    EXPECT_EQ(a.Size(), 1024u);
    first = a.Data();
    EXPECT_EQ(pool.LentBytes(), 1024u);
  }
  EXPECT_EQ(pool.LentBytes(), 0u);
  EXPECT_EQ(pool.FreeBytes(), 1024u);
  ChunkBuffer a = pool.Acquire(5000);
  EXPECT_EQ(a.Data(), first);  // the same memory again
  ChunkBuffer b = pool.Acquire(5000);
  ChunkBuffer c = pool.Acquire(5000);
  EXPECT_EQ(pool.LentBytes(), 3 * 1024u);
  // The limit is reached: a buffer of its own, not the pool's, and no wait.
  ChunkBuffer d = pool.Acquire(5000);
  EXPECT_EQ(d.Size(), 5000u);
  ChunkBuffer e = pool.Acquire(1u << 30);
  EXPECT_EQ(e.Size(), ChunkBufferPool::kSmallBufferSize);
  EXPECT_EQ(pool.LentBytes(), 3 * 1024u);
  EXPECT_EQ(pool.Acquire(0).Size(), 0u);
}

TEST(ChunkBufferPoolTest, BuffersMayOutliveThePoolAndMoveBetweenThreads) {
  ChunkBuffer kept;
  {
    ChunkBufferPool pool(64, 64 * 8);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&pool] {
        for (int i = 0; i < 500; ++i) {
          ChunkBuffer buffer = pool.Acquire(64);
          buffer.Data()[0] = 1;
        }
      });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(pool.LentBytes(), 0u);
    EXPECT_LE(pool.FreeBytes(), 64u * 8);
    kept = pool.Acquire(64);
  }
  EXPECT_EQ(kept.Size(), 64u);
  ChunkBuffer moved = std::move(kept);
  EXPECT_EQ(kept.Size(), 0u);
  EXPECT_EQ(moved.Size(), 64u);
}

}  // namespace
}  // namespace velmo
