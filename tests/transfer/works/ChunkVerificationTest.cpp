// A chunk's verification: received bytes are checked in memory and written
// only when they match; what an earlier run left in a file is read back
// from the file; a file this run created is not read at all.
#include <gtest/gtest.h>
#include <libdeflate.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/Crc32Forgery.h"
#include "support/TempDir.h"
#include "velmo/file/BufferedChunkData.h"
#include "velmo/file/ChunkBufferPool.h"
#include "velmo/file/PosixSharedFileFactory.h"
#include "velmo/file/SharedFile.h"
#include "velmo/optimizer/OptimizedRequestParams.h"
#include "velmo/optimizer/TransferOptimizer.h"
#include "velmo/transfer/TransferProgressUpdater.h"
#include "velmo/transfer/TransferWorkInterface.h"
#include "velmo/transfer/works/ChecksumStatusData.h"
#include "velmo/transfer/works/TransferSharedMapData.h"
#include "velmo/transfer/works/VerifyChunkWork.h"
#include "velmo/work/WorkStatus.h"

namespace velmo {
namespace {

// Records which requests were blamed for wrong bytes.
class BlameRecordingOptimizer : public TransferOptimizer {
 public:
  BlameRecordingOptimizer() : TransferOptimizer(EngineSettings(1)) {}
  void GetNode(OptimizedRequestParams&) override {}
  void ReleaseNode(const OptimizedRequestParams&) override {}
  void ReportChecksumFailure(const OptimizedRequestParams& params, std::uint64_t bytes,
                             std::int32_t) override {
    blamed.emplace_back(params.lease, bytes);
  }
  std::vector<std::pair<std::uint64_t, std::uint64_t>> blamed;  // lease, bytes

 protected:
  void UpdateStatistics(std::unique_lock<std::mutex>&, const OptimizedRequestParams&,
                        const HttpRequestStatus&, std::int32_t) override {}
};

// Only what a chunk's simple works ask for: the behavior and the parameters.
class ChunkOnlyWorkInterface : public TransferWorkInterface {
 public:
  explicit ChunkOnlyWorkInterface(TransferOptimizer* optimizer) { behavior_.optimizer = optimizer; }
  TransferParams GetParams() override { return params_; }
  const TransferParams& GetParamsRef() override { return params_; }
  const TransferBehavior& GetBehavior() override { return behavior_; }
  std::shared_ptr<PackageManifest> GetPackage() override { return nullptr; }
  std::shared_ptr<NodeListManifest> GetNodeList() override { return nullptr; }
  std::shared_ptr<TransferProgressUpdater> GetProgressUpdater() override { return nullptr; }
  std::shared_ptr<HttpSession> GetSession() override { return nullptr; }
  WorkCompleteCallback* GetWorkCompleteCallback() override { return nullptr; }
  WorkCompleteCallback* GetPackageAcquireCallback() override { return nullptr; }
  WorkCompleteCallback* GetNodeListAcquireCallback() override { return nullptr; }
  WorkCompleteCallback* GetInitializeCallback() override { return nullptr; }
  WorkflowRetryableErrorCallback* GetRetryableErrorCallback() override { return nullptr; }
  void RegisterFile(const std::string&) override {}

 private:
  TransferParams params_;
  TransferBehavior behavior_;
};

class CountingProgress : public TransferProgressUpdater {
 public:
  void AddProgress(const std::uint64_t& bytes) override { progress += bytes; }
  void RemoveProgress(const std::uint64_t& bytes) override { progress -= bytes; }
  void AddVerified(const std::uint64_t& bytes) override { verified += bytes; }
  void AddDownloaded(const std::uint64_t&) override {}
  std::uint64_t progress = 0;
  std::uint64_t verified = 0;
};

std::uint32_t Crc(const std::string& bytes) {
  return static_cast<std::uint32_t>(libdeflate_crc32(0, bytes.data(), bytes.size()));
}

class ChunkVerificationTest : public ::testing::Test {
 protected:
  // A 64-byte file (created now, or holding `existing`) with one chunk of
  // bytes 16..47 that should hold `expected`.
  void MakeChunk(const std::string& expected, const std::string& existing = "",
                 bool sha256 = false) {
    if (!existing.empty()) std::ofstream(dir_ / "f.bin", std::ios::binary) << existing;
    fileData_ = std::make_shared<TransferSharedFileData>("f.bin", 64);
    fileData_->file = files_.OpenFile(dir_.path(), "f.bin", FileOpenMode::OpenOrCreate, 0, 63);
    fileData_->created = fileData_->file->Allocate(64);
    std::optional<Sha256Digest> strong;
    if (sha256) strong = Sha256Of(expected.data(), expected.size());
    chunk_ = std::make_shared<TransferSharedMapData>(fileData_, 16, 47, Crc(expected), progress_,
                                                     strong);
  }
  void Receive(const std::string& bytes) {
    if (!chunk_->received) {
      chunk_->received = std::make_shared<BufferedChunkData>(
          fileData_->file, 16, 47, pool_.Acquire(32), chunk_->NeedsSha256());
    }
    chunk_->received->Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    chunk_->fileProgressBytes += bytes.size();
    progress_->AddProgress(bytes.size());
    chunk_->lastStatus = HttpRequestStatus(HttpRequestResult::Success, bytes.size());
  }
  WorkStatus Verify() { return VerifyChunkWork(face_, chunk_).ExecuteTask(); }
  std::string Disk() {
    std::ifstream in(dir_ / "f.bin", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  test::TempDir dir_;
  PosixSharedFileFactory files_;
  ChunkBufferPool pool_{1024, 4096};
  BlameRecordingOptimizer optimizer_;
  std::shared_ptr<TransferWorkInterface> face_ =
      std::make_shared<ChunkOnlyWorkInterface>(&optimizer_);
  std::shared_ptr<CountingProgress> progress_ = std::make_shared<CountingProgress>();
  std::shared_ptr<TransferSharedFileData> fileData_;
  std::shared_ptr<TransferSharedMapData> chunk_;
};

TEST_F(ChunkVerificationTest, WrongBytesNeverReachTheFileAndBlameTheirNode) {
  const std::string good(32, 'g');
  MakeChunk(good);
  ASSERT_TRUE(fileData_->created);
  chunk_->nodeIndex = 2;
  chunk_->lastLease = 7;
  Receive(std::string(31, 'g') + "X");
  const WorkStatus failed = Verify();
  EXPECT_EQ(failed.result, WorkResult::Error);
  ASSERT_TRUE(std::dynamic_pointer_cast<ChecksumStatusData>(failed.data));
  EXPECT_EQ(Disk(), std::string(64, '\0'));
  EXPECT_EQ(chunk_->badNodeMask, 1u << 2);
  ASSERT_EQ(optimizer_.blamed.size(), 1u);  // the request that sent them, as a failure
  EXPECT_EQ(optimizer_.blamed[0], std::make_pair(std::uint64_t{7}, std::uint64_t{32}));
  EXPECT_EQ(chunk_->received->Received(), 0u);  // rewound for the next request
  EXPECT_EQ(progress_->progress, 0u);

  // The same bytes from another node: written, counted, buffer returned.
  chunk_->nodeIndex = 0;
  Receive(good);
  EXPECT_EQ(Verify().result, WorkResult::Success);
  EXPECT_EQ(Disk(), std::string(16, '\0') + good + std::string(16, '\0'));
  EXPECT_FALSE(chunk_->received);
  EXPECT_EQ(pool_.LentBytes(), 0u);
  EXPECT_EQ(progress_->verified, 32u);
  EXPECT_EQ(chunk_->badNodeMask, 1u << 2);
  EXPECT_EQ(optimizer_.blamed.size(), 1u);
}

TEST_F(ChunkVerificationTest, AShortResponseIsNotAChunkEvenIfItsChecksumMatches) {
  const std::string half(16, 'h');
  MakeChunk(half);  // a (wrong) manifest whose checksum is that of half the chunk
  Receive(half);
  EXPECT_EQ(chunk_->received->Crc32(), chunk_->expectedChecksum);
  EXPECT_EQ(Verify().result, WorkResult::Error);
  EXPECT_EQ(Disk(), std::string(64, '\0'));
}

TEST_F(ChunkVerificationTest, ACreatedFileIsNotReadAndAnEarlierRunsBytesAreReadBack) {
  const std::string good(32, 'v');
  MakeChunk(good);
  // Nothing read (here the file's bytes would even match): the chunk is
  // simply missing, with no one to blame.
  fileData_->file->WriteAt(16, good.data(), good.size());
  chunk_->lastStatus = HttpRequestStatus(HttpRequestResult::Success, 0);
  EXPECT_EQ(Verify().result, WorkResult::Error);
  EXPECT_EQ(chunk_->badNodeMask, 0u);
  EXPECT_TRUE(optimizer_.blamed.empty());

  // A file an earlier run filled: mapped and checked in place.
  fileData_.reset();
  chunk_.reset();
  std::filesystem::remove(dir_ / "f.bin");
  MakeChunk(good, std::string(16, 'a') + good + std::string(16, 'b'));
  ASSERT_FALSE(fileData_->created);
  EXPECT_EQ(Verify().result, WorkResult::Success);
  EXPECT_EQ(progress_->verified, 32u);
  EXPECT_FALSE(chunk_->received);  // read back without a receive buffer
  // A byte changed in the file: the check reads it, the chunk is missing.
  fileData_->file->WriteAt(20, "X", 1);
  chunk_->verified = false;
  EXPECT_EQ(Verify().result, WorkResult::Error);
}

TEST_F(ChunkVerificationTest, AForgeryKeepingTheCrc32FailsTheSha256AndIsNeverWritten) {
  const std::string good = "the thirty-two bytes of a chunk.";
  ASSERT_EQ(good.size(), 32u);
  const std::string forged = test::ForgeKeepingCrc32(good, 8);
  ASSERT_NE(forged, good);
  ASSERT_EQ(Crc(forged), Crc(good));

  MakeChunk(good, "", true);
  chunk_->nodeIndex = 1;
  chunk_->lastLease = 3;
  Receive(forged);
  const WorkStatus failed = Verify();
  EXPECT_EQ(failed.result, WorkResult::Error);
  const auto data = std::dynamic_pointer_cast<ChecksumStatusData>(failed.data);
  ASSERT_TRUE(data);
  EXPECT_NE(data->GetCause().find("SHA-256 mismatch"), std::string::npos) << data->GetCause();
  EXPECT_EQ(Disk(), std::string(64, '\0'));
  EXPECT_EQ(chunk_->badNodeMask, 1u << 1);  // blamed like any wrong bytes
  ASSERT_EQ(optimizer_.blamed.size(), 1u);
  EXPECT_EQ(progress_->progress, 0u);
  EXPECT_EQ(progress_->verified, 0u);

  // The real bytes from another node pass both checks.
  chunk_->nodeIndex = 0;
  Receive(good);
  EXPECT_EQ(Verify().result, WorkResult::Success);
  EXPECT_EQ(Disk().substr(16, 32), good);
  EXPECT_EQ(progress_->verified, 32u);
}

TEST_F(ChunkVerificationTest, AnEarlierRunsBytesMustMatchTheSha256Too) {
  const std::string good(32, 'w');
  const std::string forged = test::ForgeKeepingCrc32(good);
  MakeChunk(good, std::string(16, 'a') + forged + std::string(16, 'b'), true);
  ASSERT_FALSE(fileData_->created);
  const WorkStatus failed = Verify();
  EXPECT_EQ(failed.result, WorkResult::Error);
  EXPECT_EQ(progress_->verified, 0u);
  EXPECT_EQ(chunk_->badNodeMask, 0u);  // left by an earlier run: no node to blame

  fileData_->file->WriteAt(16, good.data(), good.size());
  EXPECT_EQ(Verify().result, WorkResult::Success);
  EXPECT_EQ(progress_->verified, 32u);
}

}  // namespace
}  // namespace velmo
