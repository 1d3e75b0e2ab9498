#include <gtest/gtest.h>

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "FetchOutput.h"
#include "FetchRecord.h"
#include "support/TempDir.h"
#include "velmo/engine/JsonTempFileManifestStore.h"
#include "velmo/engine/TransferManifest.h"
#include "velmo/file/PosixSharedFileFactory.h"

namespace velmo::fetch {
namespace {

namespace fs = std::filesystem;
using boost::property_tree::ptree;

constexpr std::uint64_t kMiB = 1024 * 1024;

ptree Parse(const std::string& line) {
  EXPECT_EQ(line.find('\n'), std::string::npos) << "an event spans lines: " << line;
  std::istringstream in(line);
  ptree tree;
  boost::property_tree::read_json(in, tree);
  return tree;
}

TEST(FetchOutputTest, SizesAndTimesReadLikeWords) {
  EXPECT_EQ(FormatBytes(0), "0 B");
  EXPECT_EQ(FormatBytes(1023), "1023 B");
  EXPECT_EQ(FormatBytes(1024), "1.0 KiB");
  EXPECT_EQ(FormatBytes(1536), "1.5 KiB");
  // Just below a unit rounds up into it rather than printing "1024.0 KiB".
  EXPECT_EQ(FormatBytes(kMiB - 1), "1.0 MiB");
  EXPECT_EQ(FormatBytes(1024 * kMiB), "1.0 GiB");
  EXPECT_EQ(FormatBytes(UINT64_MAX), "16.0 EiB");

  EXPECT_EQ(FormatDuration(-1), "unknown");
  EXPECT_EQ(FormatDuration(0), "0 s");
  EXPECT_EQ(FormatDuration(59), "59 s");
  EXPECT_EQ(FormatDuration(65), "1 min 05 s");
  EXPECT_EQ(FormatDuration(7260), "2 h 01 min");
}

TEST(FetchOutputTest, TheProgressLineSaysDoneOfTotalSpeedAndTimeLeft) {
  TransferStatus status;
  status.totalBytes = 1024 * kMiB;
  status.progressBytes = 1234 * kMiB / 10;
  status.speed = 456 * kMiB / 10;
  status.secondsRemaining = 20;
  EXPECT_EQ(ProgressLine(status), "12% 123.4 MiB of 1.0 GiB, 45.6 MiB/s, 20 s left");

  status.secondsRemaining = -1;
  status.speed = 0;
  EXPECT_EQ(ProgressLine(status), "12% 123.4 MiB of 1.0 GiB, 0 B/s, time left unknown");

  // Progress beyond the total (a rewritten chunk counted twice) stays at 100%.
  status.progressBytes = status.totalBytes + 5;
  EXPECT_EQ(ProgressLine(status).substr(0, 18), "100% 1.0 GiB of 1.");
  status.totalBytes = 0;
  EXPECT_EQ(ProgressLine(status).substr(0, 10), "0% 0 B of ");
}

TEST(FetchOutputTest, TheErrorLineNamesTheErrorAndItsCause) {
  TransferStatus status;
  status.error = TransferError::ManifestError;
  EXPECT_EQ(ErrorLine(status), "ManifestError");
  status.errorCause = "node list http://h/nodes/p.xml: libcurl error 22 (HTTP 403)";
  EXPECT_EQ(ErrorLine(status),
            "ManifestError: node list http://h/nodes/p.xml: libcurl error 22 "
            "(HTTP 403)");
}

TEST(FetchOutputTest, EveryEventIsOneParsableJsonLine) {
  TransferStatus status;
  status.transferId = "0123";
  status.partnerId = "p\"1";
  status.packageId = "pkg\\x";
  status.totalBytes = 5000;
  status.progressBytes = 1200;
  status.completedBytes = 1000;
  status.speed = 300;
  status.secondsRemaining = -1;
  status.state = TransferState::Transferring;

  ptree start = Parse(StartEvent(status, "2 \xc3\xa9t\xc3\xa9", true, 3));
  EXPECT_EQ(start.get<std::string>("event"), "start");
  EXPECT_EQ(start.get<std::string>("partner"), "p\"1");
  EXPECT_EQ(start.get<std::string>("package"), "pkg\\x");
  EXPECT_EQ(start.get<std::string>("version"), "2 \xc3\xa9t\xc3\xa9");  // UTF-8 unchanged
  EXPECT_EQ(start.get<int>("files"), 3);
  EXPECT_EQ(start.get<std::uint64_t>("totalBytes"), 5000u);
  EXPECT_NE(StartEvent(status, "1", false, 0).find("\"files\":null,\"totalBytes\":null"),
            std::string::npos);

  ptree progress = Parse(ProgressEvent(status));
  EXPECT_EQ(progress.get<std::string>("state"), "Transferring");
  EXPECT_EQ(progress.get<std::uint64_t>("bytes"), 1200u);
  EXPECT_EQ(progress.get<std::uint64_t>("verifiedBytes"), 1000u);
  EXPECT_EQ(progress.get<int>("secondsLeft"), -1);

  NodeCounters node;
  node.nodeId = "n1";
  node.host = "127.0.0.1:8041";
  node.bytes = 99;
  node.requests = 4;
  node.failures = 1;
  node.checksumFailures = 2;
  ptree nodes = Parse(NodesEvent({node, NodeCounters{}}));
  ASSERT_EQ(nodes.get_child("nodes").size(), 2u);
  const ptree& first = nodes.get_child("nodes").front().second;
  EXPECT_EQ(first.get<std::string>("host"), "127.0.0.1:8041");
  EXPECT_EQ(first.get<int>("requests"), 4);
  EXPECT_EQ(first.get<int>("failures"), 1);
  EXPECT_EQ(first.get<int>("checksumFailures"), 2);
  EXPECT_EQ(NodesEvent({}), "{\"event\":\"nodes\",\"nodes\":[]}");

  ptree failed =
      Parse(EndEvent("0123", "Initializing", TransferError::ManifestError, "line\none\t\x01"));
  EXPECT_EQ(failed.get<std::string>("error.name"), "ManifestError");
  EXPECT_EQ(failed.get<std::string>("error.cause"), "line\none\t\x01");
  EXPECT_NE(EndEvent("0123", "Completed", TransferError::None, "").find("\"error\":null"),
            std::string::npos);
}

class FetchRecordTest : public ::testing::Test {
 protected:
  static constexpr char kFolder[] = "velmo-test/transfers";

  void Store(const std::string& id, const std::string& dest) {
    TransferParams params;
    params.transferId = id;
    params.partnerId = "p";
    params.packageId = "g";
    params.versionId = "?";
    params.destPath = dest;
    ASSERT_TRUE(store_.Save(id, TransferManifest(params)));
  }

  test::TempDir temp_;  // TMPDIR points here
  PosixSharedFileFactory files_;
  JsonTempFileManifestStore<TransferManifest> store_{kFolder, &files_};
};

TEST_F(FetchRecordTest, ARecordRoundTripsAndRefusesLineBreaks) {
  const std::string path = FetchRecordPath(kFolder, "abc");
  EXPECT_EQ(path, temp_ / "velmo-test/transfers/abc.fetch");
  FetchRecord record;
  record.host = "127.0.0.1:8040";
  record.state = "Transferring";
  record.completedBytes = 123;
  record.totalBytes = 456;
  record.files = {"bin/run.sh", "a b=c.txt"};
  ASSERT_TRUE(SaveFetchRecord(path, record));
  FetchRecord loaded;
  ASSERT_TRUE(LoadFetchRecord(path, loaded));
  EXPECT_EQ(loaded.host, record.host);
  EXPECT_EQ(loaded.state, record.state);
  EXPECT_EQ(loaded.completedBytes, 123u);
  EXPECT_EQ(loaded.totalBytes, 456u);
  EXPECT_EQ(loaded.files, record.files);

  FetchRecord bad = record;
  bad.host = "h\nfile=../../etc/passwd";
  EXPECT_FALSE(SaveFetchRecord(path, bad));
  ASSERT_TRUE(LoadFetchRecord(path, loaded));  // the earlier record stays
  EXPECT_EQ(loaded.host, record.host);
  EXPECT_FALSE(LoadFetchRecord(path + ".missing", loaded));
}

TEST_F(FetchRecordTest, ListingShowsStoredTransfersWithOrWithoutARecord) {
  EXPECT_TRUE(ListStoredTransfers(kFolder).empty());
  Store("bbb", "/d2");
  Store("aaa", "/d1");
  FetchRecord record;
  record.host = "h:1";
  record.state = "Suspended";
  record.totalBytes = 10;
  ASSERT_TRUE(SaveFetchRecord(FetchRecordPath(kFolder, "aaa"), record));
  // Neither a stray record nor a broken document is a transfer.
  ASSERT_TRUE(SaveFetchRecord(FetchRecordPath(kFolder, "ccc"), record));
  std::ofstream(temp_ / "velmo-test/transfers/ddd.json") << "{not json";

  const auto entries = ListStoredTransfers(kFolder);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].params.transferId, "aaa");
  EXPECT_EQ(entries[0].params.destPath, "/d1");
  EXPECT_TRUE(entries[0].hasRecord);
  EXPECT_EQ(entries[0].record.state, "Suspended");
  EXPECT_EQ(entries[1].params.transferId, "bbb");
  EXPECT_FALSE(entries[1].hasRecord);
}

TEST_F(FetchRecordTest, DiscardForgetsTheTransferAndDeletesOnlyItsOwnFilesWhenAsked) {
  const std::string dest = temp_ / "dest";
  fs::create_directories(dest + "/sub/deeper");
  fs::create_directories(dest + "/keep");
  for (const char* name : {"a.bin", "sub/deeper/b.bin", "keep/mine.txt"}) {
    std::ofstream(dest + "/" + name) << "x";
  }
  std::ofstream(temp_ / "outside.txt") << "x";
  Store("t1", dest);
  FetchRecord record;
  record.host = "h:1";
  record.files = {"a.bin", "sub/deeper/b.bin", "../outside.txt", "missing.bin"};
  ASSERT_TRUE(SaveFetchRecord(FetchRecordPath(kFolder, "t1"), record));

  std::string message;
  EXPECT_FALSE(DiscardStoredTransfer(kFolder, "nope", true, message));
  EXPECT_NE(message.find("nope"), std::string::npos);

  ASSERT_TRUE(DiscardStoredTransfer(kFolder, "t1", true, message)) << message;
  EXPECT_EQ(message, "2 files deleted from " + dest);
  EXPECT_FALSE(fs::exists(dest + "/a.bin"));
  EXPECT_FALSE(fs::exists(dest + "/sub"));  // left empty, so it went too
  EXPECT_TRUE(fs::exists(dest + "/keep/mine.txt"));
  EXPECT_TRUE(fs::exists(temp_ / "outside.txt"));  // never outside the folder
  EXPECT_TRUE(fs::exists(dest));
  EXPECT_TRUE(ListStoredTransfers(kFolder).empty());
  EXPECT_FALSE(fs::exists(FetchRecordPath(kFolder, "t1")));

  // Without --delete-files the files stay.
  Store("t2", dest);
  ASSERT_TRUE(DiscardStoredTransfer(kFolder, "t2", false, message));
  EXPECT_TRUE(message.empty());
  EXPECT_TRUE(fs::exists(dest + "/keep/mine.txt"));
  EXPECT_TRUE(ListStoredTransfers(kFolder).empty());
}

}  // namespace
}  // namespace velmo::fetch
