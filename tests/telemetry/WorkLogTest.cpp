#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <boost/property_tree/json_parser.hpp>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "support/TempDir.h"
#include "velmo/file/PosixSharedFileFactory.h"
#include "velmo/telemetry/JsonWorkLogManager.h"
#include "velmo/telemetry/LogLevel.h"
#include "velmo/work/SimpleWork.h"

namespace velmo {
namespace {

namespace fs = std::filesystem;
using boost::property_tree::ptree;

// 2014-05-02 18:03:07 UTC.
const auto kNow = std::chrono::system_clock::from_time_t(1399053787);
const char kPrefix[] = "[2014-05-02 18:03:07] ";
const char kLogs[] = "Orvanta/Pellaris/logs";

class DescribedWork : public SimpleWork {
 public:
  explicit DescribedWork(bool important) : important_(important) {}
  void Describe(ptree& out) const override {
    out.put("name", "DescribedWork");
    if (important_) out.put("important", true);
  }
  WorkStatus ExecuteTask() override { return WorkStatus(WorkResult::Success, nullptr); }
  void OnInterrupt() override {}

 private:
  bool important_;
};

class WorkLogTest : public ::testing::Test {
 protected:
  std::unique_ptr<JsonWorkLogManager> MakeLog(std::uint32_t mask) {
    return std::make_unique<JsonWorkLogManager>(mask, kLogs, &files_, 2, [] { return kNow; });
  }

  fs::path LogsDir() const { return fs::path(dir_.path()) / kLogs; }

  std::vector<std::string> LogFiles() const {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(LogsDir(), ec)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string Read(const std::string& name) const {
    std::ifstream in(LogsDir() / name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  static void SubmitTransferEvent(JsonWorkLogManager& log, const std::string& name) {
    auto record = log.CreateEvent(kLogTransferEvent);
    record->GetTree().put("event", name);
    ptree params;
    params.put("transferId", "t1");
    params.put("partnerId", "p");
    params.put("packageId", "k");
    params.put("versionId", "?");
    params.put("destPath", "/home/u/Downloads");
    record->GetTree().add_child("params", params);
    log.Submit(record);
  }

  test::TempDir dir_;
  PosixSharedFileFactory files_;
};

TEST_F(WorkLogTest, TransferEventLineAndFileNameAreExact) {
  {
    auto log = MakeLog(kDefaultLogMask);
    SubmitTransferEvent(*log, "Start");
  }
  ASSERT_EQ(LogFiles(), std::vector<std::string>{"Log.2014.05.02.18.03.07.txt"});
  EXPECT_EQ(Read("Log.2014.05.02.18.03.07.txt"),
            std::string(kPrefix) +
                "{\"event\":\"Start\",\"params\":{\"transferId\":\"t1\",\"partnerId\":\"p\","
                "\"packageId\":\"k\",\"versionId\":\"?\",\"destPath\":\"\\/home\\/u\\/Downloads\"}}"
                "\n");
  struct stat st {};
  ASSERT_EQ(::stat(LogsDir().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u) << "the logs folder is private to the user";
}

TEST_F(WorkLogTest, CompletionLevelsAgainstTheDefaultMask) {
  {
    auto log = MakeLog(kDefaultLogMask);
    auto ordinary = std::make_shared<DescribedWork>(false);
    auto important = std::make_shared<DescribedWork>(true);
    for (WorkResult r : {WorkResult::Success, WorkResult::Error, WorkResult::Interrupted}) {
      log->OnWorkComplete(ordinary, WorkStatus(r, nullptr));  // level 8: dropped
    }
    log->OnWorkComplete(important, WorkStatus(WorkResult::Success, nullptr));         // 24
    log->OnWorkComplete(ordinary, WorkStatus(WorkResult::Fatal, nullptr));            // 2
    log->OnWorkComplete(important, WorkStatus(WorkResult::RetryableError, nullptr));  // 18
  }
  ASSERT_EQ(LogFiles().size(), 1u);
  auto lines = Lines(Read(LogFiles()[0]));
  ASSERT_EQ(lines.size(), 3u);
  std::multiset<std::string> results;
  for (const auto& line : lines) {
    ASSERT_EQ(line.substr(0, 22), kPrefix);
    std::istringstream json(line.substr(22));
    ptree record;
    ASSERT_NO_THROW(boost::property_tree::read_json(json, record)) << line;
    EXPECT_EQ(record.begin()->first, "event") << "\"event\" comes first";
    EXPECT_EQ(record.get<std::string>("event"), "OnWorkComplete");
    EXPECT_EQ(record.get<std::string>("params.name"), "DescribedWork");
    EXPECT_EQ(record.get<std::string>("params.workStatus.retry"), "false");
    results.insert(record.get<std::string>("params.workStatus.result") + "/" +
                   record.get<std::string>("params.important", "-"));
  }
  EXPECT_EQ(results, (std::multiset<std::string>{"0/true", "4/-", "3/true"}));
}

TEST_F(WorkLogTest, ExactCompletionAndRetryLines) {
  {
    auto log = MakeLog(kLogWorkFailure | kLogWorkRetry);
    auto work = std::make_shared<DescribedWork>(false);
    WorkStatus retrying(WorkResult::RetryableError, nullptr);
    retrying.retry = true;
    log->OnSimpleWorkRetry(work, retrying);
  }
  ASSERT_EQ(LogFiles().size(), 1u);
  EXPECT_EQ(Read(LogFiles()[0]),
            std::string(kPrefix) +
                "{\"event\":\"OnSimpleWorkRetry\",\"params\":{\"name\":\"DescribedWork\","
                "\"workStatus\":{\"result\":\"3\",\"retry\":\"true\"}}}\n");
}

TEST_F(WorkLogTest, MaskZeroCreatesNoFileAndMaskOneOnlyTransferEvents) {
  {
    auto log = MakeLog(0);
    SubmitTransferEvent(*log, "Start");
    log->OnWorkComplete(std::make_shared<DescribedWork>(true),
                        WorkStatus(WorkResult::Fatal, nullptr));
  }
  EXPECT_TRUE(LogFiles().empty());
  {
    auto log = MakeLog(1);
    log->OnWorkComplete(std::make_shared<DescribedWork>(true),
                        WorkStatus(WorkResult::Fatal, nullptr));
    log->OnSimpleWorkRetry(std::make_shared<DescribedWork>(true),
                           WorkStatus(WorkResult::RetryableError, nullptr));
    SubmitTransferEvent(*log, "Pause");
  }
  ASSERT_EQ(LogFiles().size(), 1u);
  auto lines = Lines(Read(LogFiles()[0]));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("{\"event\":\"Pause\""), std::string::npos);
}

TEST_F(WorkLogTest, RunsInTheSameSecondGetCountedNames) {
  for (int run = 0; run < 3; ++run) {
    auto log = MakeLog(kDefaultLogMask);
    SubmitTransferEvent(*log, "Run" + std::to_string(run));
  }
  EXPECT_EQ(LogFiles(), (std::vector<std::string>{"Log.2014.05.02.18.03.07.txt",
                                                  "Log.2014.05.02.18.03.07.txt.1",
                                                  "Log.2014.05.02.18.03.07.txt.2"}));
  EXPECT_NE(Read("Log.2014.05.02.18.03.07.txt.2").find("Run2"), std::string::npos);
}

TEST_F(WorkLogTest, AFolderThatCannotBeMadeLosesLinesUntilItCan) {
  auto log = MakeLog(kDefaultLogMask);
  // A plain file where a folder of the path should be.
  fs::create_directories(fs::path(dir_.path()) / "Orvanta");
  std::ofstream(fs::path(dir_.path()) / "Orvanta" / "Pellaris") << "x";
  log->Write(kLogTransferEvent, "{\"lost\":\"1\"}\n");
  fs::remove(fs::path(dir_.path()) / "Orvanta" / "Pellaris");
  log->Write(kLogTransferEvent, "{\"kept\":\"1\"}\n");
  log->Write(kLogWorkComplete, "{\"masked\":\"1\"}\n");
  log.reset();
  ASSERT_EQ(LogFiles().size(), 1u);
  EXPECT_EQ(Read(LogFiles()[0]), std::string(kPrefix) + "{\"kept\":\"1\"}\n");
}

TEST_F(WorkLogTest, NoLineGoesIntoAFolderAnotherUserCouldWriteOrThroughALink) {
  const fs::path pellaris = fs::path(dir_.path()) / "Orvanta" / "Pellaris";
  fs::create_directories(LogsDir());
  fs::permissions(pellaris, fs::perms::all);  // 0777, made by someone else beforehand
  {
    auto log = MakeLog(kDefaultLogMask);
    log->Write(kLogTransferEvent, "{\"lost\":\"1\"}\n");
  }
  EXPECT_TRUE(LogFiles().empty());

  // A link in place of the logs folder, to a folder of the user's own.
  fs::permissions(pellaris, fs::perms::owner_all);
  fs::remove(LogsDir());
  fs::create_directory(fs::path(dir_.path()) / "elsewhere");
  fs::create_directory_symlink(fs::path(dir_.path()) / "elsewhere", LogsDir());
  {
    auto log = MakeLog(kDefaultLogMask);
    log->Write(kLogTransferEvent, "{\"lost\":\"2\"}\n");
  }
  EXPECT_TRUE(fs::is_empty(fs::path(dir_.path()) / "elsewhere"));
}

TEST_F(WorkLogTest, LinesFromManyThreadsNeverInterleave) {
  constexpr int kThreads = 4;
  constexpr int kPerThread = 50;
  {
    auto log = MakeLog(kDefaultLogMask);
    std::vector<std::thread> producers;
    for (int t = 0; t < kThreads; ++t) {
      producers.emplace_back([&log, t] {
        for (int i = 0; i < kPerThread; ++i) {
          if (i % 2 == 0) {
            SubmitTransferEvent(*log, "T" + std::to_string(t) + "." + std::to_string(i));
          } else {
            log->OnWorkComplete(std::make_shared<DescribedWork>(false),
                                WorkStatus(WorkResult::Fatal, nullptr));
          }
        }
      });
    }
    for (auto& p : producers) p.join();
  }
  ASSERT_EQ(LogFiles().size(), 1u);
  auto lines = Lines(Read(LogFiles()[0]));
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kPerThread))
      << "every record handed over before destruction is written";
  for (const auto& line : lines) {
    ASSERT_EQ(line.substr(0, 22), kPrefix);
    std::istringstream json(line.substr(22));
    ptree record;
    ASSERT_NO_THROW(boost::property_tree::read_json(json, record)) << line;
  }
}

}  // namespace
}  // namespace velmo
