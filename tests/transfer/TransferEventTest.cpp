#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "velmo/manifest/NodeListManifest.h"
#include "velmo/manifest/NodeManifest.h"
#include "velmo/optimizer/NodeStatistics.h"
#include "velmo/telemetry/JsonWriter.h"
#include "velmo/telemetry/LogLevel.h"
#include "velmo/telemetry/WorkLogManager.h"
#include "velmo/transfer/TransferErrorData.h"
#include "velmo/transfer/TransferEvents.h"
#include "velmo/transfer/TransferStatusImpl.h"

namespace velmo {
namespace {

using boost::property_tree::ptree;

// A record that is kept, not sent: the fakes below capture the tree each event
// fills so the bodies can be compared byte for byte.
class KeptRecord : public TrackEventWork {
 public:
  using TrackEventWork::TrackEventWork;
  void Describe(ptree& /*out*/) const override {}
  void Reset() override {}
  WorkStatus ExecuteTask() override { return WorkStatus(WorkResult::Success, nullptr); }
};

struct Record {
  std::int32_t category;
  std::string json;
};

class RecordList {
 public:
  void Keep(const std::shared_ptr<SimpleWork>& work) {
    auto record = std::dynamic_pointer_cast<TrackEventWork>(work);
    ASSERT_TRUE(record);
    std::lock_guard<std::mutex> lock(mutex_);
    records_.push_back(Record{record->GetCategory(), ToJson(record->GetTree())});
  }
  std::vector<Record> Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::move(records_);
  }

 private:
  std::mutex mutex_;
  std::vector<Record> records_;
};

class FakeAnalytics : public EventManager {
 public:
  FakeAnalytics() : EventManager(1) {}
  ~FakeAnalytics() override { JoinWorkManager(); }
  std::shared_ptr<TrackEventWork> CreateEvent(std::int32_t category) override {
    return std::make_shared<KeptRecord>(category);
  }
  void Submit(std::shared_ptr<SimpleWork> work) override { records.Keep(work); }
  RecordList records;
};

class FakeWorkLog : public WorkLogManager {
 public:
  FakeWorkLog() : WorkLogManager(kDefaultLogMask, "logs", nullptr, 1) {}
  ~FakeWorkLog() override { JoinWorkManager(); }
  std::shared_ptr<TrackEventWork> CreateEvent(std::int32_t level) override {
    return std::make_shared<KeptRecord>(level);
  }
  void Submit(std::shared_ptr<SimpleWork> work) override { records.Keep(work); }
  void OnWorkComplete(std::shared_ptr<const Work>, const WorkStatus&) override {}
  void OnSimpleWorkRetry(std::shared_ptr<const SimpleWork>, const WorkStatus&) override {}
  RecordList records;
};

class FakeNode : public NodeManifest {
 public:
  explicit FakeNode(std::string host)
      : host_(std::move(host)), statistics_(std::make_shared<NodeStatistics>()) {}
  void Parse(const ptree&) override {}
  void Write(ptree&) const override {}
  std::string GetNodeId() const override { return host_; }
  std::string GetHost() const override { return host_; }
  std::string GetPath() const override { return "/packages/"; }
  std::int32_t GetWeight() const override { return 1; }
  void ResetWeight() override {}
  std::shared_ptr<NodeStatistics> GetStatistics() const override { return statistics_; }
  std::shared_ptr<NodeManifest> WithStatistics(std::shared_ptr<NodeStatistics>) const override {
    return nullptr;
  }

 private:
  std::string host_;
  std::shared_ptr<NodeStatistics> statistics_;
};

class FakeNodeList : public NodeListManifest {
 public:
  void Parse(const ptree&) override {}
  NodeManifestList GetNodes() const override { return nodes; }
  NodeManifestList nodes;
};

const char kCounterHead[] = R"({"pid":"partner","pkgid":"pkg","vid":"1.0","metrics":{)";

std::string Counter(const std::string& key) {
  return std::string(kCounterHead) + "\"" + key + "\":\"1\"},\"dimensions\":{}}";
}

std::string TransferRecord(const std::string& status, const std::string& bytes,
                           const std::string& duration) {
  return R"({"pid":"partner","pkgid":"pkg","vid":"1.0","tid":"T1","status":")" + status +
         R"(","transferBytes":")" + bytes + R"(","duration":")" + duration + "\"}";
}

std::string Node(const std::string& host, const std::string& bytes, const std::string& time) {
  return R"({"pid":"partner","pkgid":"pkg","vid":"1.0","metrics":{"bytes":")" + bytes +
         R"(","requestTime":")" + time + R"("},"dimensions":{"cdn":")" + host + "\"}}";
}

std::string LogLine(const std::string& event) {
  return R"({"event":")" + event +
         R"(","params":{"transferId":"T1","partnerId":"partner","packageId":"pkg",)"
         R"("versionId":"1.0","destPath":"\/home\/u\/dl"}})" +
         "\n";
}

class TransferEventTest : public ::testing::Test {
 protected:
  TransferEventTest() : status_(10, 500, [this] { return now_; }) {
    context_.params.transferId = "T1";
    context_.params.partnerId = "partner";
    context_.params.packageId = "pkg";
    context_.params.versionId = "1.0";
    context_.params.destPath = "/home/u/dl";
    context_.behavior.analytics = &analytics_;
    context_.behavior.workLog = &log_;
    nodes_->nodes = {std::make_shared<FakeNode>("n1.example"),
                     std::make_shared<FakeNode>("n2.example:8080")};
  }

  // `bytes` received over `ms` of transferring time.
  void RunFor(std::uint64_t bytes, std::uint32_t ms) {
    status_.SetState(TransferState::Transferring);
    status_.GetStatus(context_.params);
    status_.AddDownloaded(bytes);
    now_ += ms;
    status_.GetStatus(context_.params);
  }

  TransferEventContext WithNodes() {
    TransferEventContext context = context_;
    context.nodeList = nodes_;
    return context;
  }

  std::uint32_t now_ = 1000;
  FakeAnalytics analytics_;
  FakeWorkLog log_;
  TransferEventContext context_;
  std::shared_ptr<FakeNodeList> nodes_ = std::make_shared<FakeNodeList>();
  TransferStatusImpl status_;
};

TEST_F(TransferEventTest, CountingEventsSendOneCounterAndOneLogLine) {
  struct Case {
    std::unique_ptr<TransferEvent> event;
    std::string name;
    std::string counter;
  };
  std::vector<Case> cases;
  cases.push_back(
      {std::make_unique<TransferInitializeEvent>(context_), "Initialize", "numInitializes"});
  cases.push_back({std::make_unique<TransferInitializeCompleteEvent>(context_),
                   "InitializeComplete", "numInitializeCompletes"});
  cases.push_back({std::make_unique<TransferPauseEvent>(context_), "Pause", "numPauses"});
  cases.push_back({std::make_unique<TransferResumeEvent>(context_), "Resume", "numResumes"});
  cases.push_back({std::make_unique<TransferRetryEvent>(context_), "Retry", "numRetries"});
  for (const Case& c : cases) {
    c.event->Dispatch();
    const auto sent = analytics_.records.Take();
    ASSERT_EQ(sent.size(), 1u) << c.name;
    EXPECT_EQ(sent[0].category, 1);
    EXPECT_EQ(sent[0].json, Counter(c.counter) + "\n");
    const auto logged = log_.records.Take();
    ASSERT_EQ(logged.size(), 1u) << c.name;
    EXPECT_EQ(logged[0].category, static_cast<std::int32_t>(kLogTransferEvent));
    EXPECT_EQ(logged[0].json, LogLine(c.name));
  }
}

TEST_F(TransferEventTest, StartAndRestoreReportFixedStatesWithoutTakingTheCounters) {
  RunFor(5000, 2500);
  TransferStartEvent(WithNodes()).Dispatch();
  TransferRestoreEvent(WithNodes()).Dispatch();
  const auto sent = analytics_.records.Take();
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(sent[0].category, 1);
  EXPECT_EQ(sent[0].json, Counter("numStarts") + "\n");
  EXPECT_EQ(sent[1].category, 32);
  EXPECT_EQ(sent[1].json, TransferRecord("active", "0", "0") + "\n");
  EXPECT_EQ(sent[2].json, Counter("numRestores") + "\n");
  EXPECT_EQ(sent[3].json, TransferRecord("active", "0", "0") + "\n");
  const auto logged = log_.records.Take();
  ASSERT_EQ(logged.size(), 2u);
  EXPECT_EQ(logged[0].json, LogLine("Start"));
  EXPECT_EQ(logged[1].json, LogLine("Restore"));
  // The marks were left alone: the bytes and time are still to be reported.
  EXPECT_EQ(status_.TakeTransferredDelta(), 5000u);
  EXPECT_EQ(status_.TakeActiveMsDelta(), 2500u);
}

TEST_F(TransferEventTest, EndEventsReportDeltasThenCounterAndNodeMetrics) {
  RunFor(5000, 2500);
  nodes_->nodes[0]->GetStatistics()->Record(4000, 200, false);
  nodes_->nodes[0]->GetStatistics()->Record(1000, 1300, true);
  TransferCancelEvent(WithNodes(), status_).Dispatch();

  auto sent = analytics_.records.Take();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].category, 32);
  EXPECT_EQ(sent[0].json, TransferRecord("active", "5000", "2.5") + "\n");
  EXPECT_EQ(sent[1].category, 1);
  EXPECT_EQ(sent[1].json, "[" + Counter("numCancels") + "," + Node("n1.example", "5000", "1.5") +
                              "," + Node("n2.example:8080", "0", "0") + "]\n");
  EXPECT_EQ(log_.records.Take()[0].json, LogLine("Cancel"));

  // Right after a report only what accrued since is reported.
  RunFor(300, 100);
  status_.SetState(TransferState::Completed);
  TransferCompleteEvent(WithNodes(), status_).Dispatch();
  sent = analytics_.records.Take();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].json, TransferRecord("completed", "300", "0.1") + "\n");
  EXPECT_EQ(sent[1].json, "[" + Counter("numCompletes") + "," + Node("n1.example", "0", "0") + "," +
                              Node("n2.example:8080", "0", "0") + "]\n");

  TransferSuspendEvent(context_, status_).Dispatch();
  sent = analytics_.records.Take();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].json, TransferRecord("suspended", "0", "0") + "\n");
  EXPECT_EQ(sent[1].json, "[" + Counter("numSuspends") + "]\n");
  EXPECT_EQ(log_.records.Take().size(), 2u);
}

TEST_F(TransferEventTest, ErrorEventsCarryTheMessageAndSkipAnEmptyTransferRecord) {
  RunFor(800, 1500);
  const std::shared_ptr<WorkStatusData> data =
      MakeTransferErrorData(TransferError::ConnectionError, "no route");
  TransferRetryableErrorEvent(WithNodes(), status_, data).Dispatch();
  auto sent = analytics_.records.Take();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].category, 32);
  EXPECT_EQ(sent[0].json, TransferRecord("active", "800", "1.5") + "\n");
  const std::string errorEntry =
      std::string(kCounterHead) +
      R"("numRetryableErrors":"1"},"dimensions":{"error":"error|2|no route"}})";
  EXPECT_EQ(sent[1].category, 1);
  EXPECT_EQ(sent[1].json, "[" + errorEntry + "," + Node("n1.example", "0", "0") + "," +
                              Node("n2.example:8080", "0", "0") + "]\n");
  EXPECT_EQ(log_.records.Take()[0].json, LogLine("RetryableError"));

  // Nothing accrued since: no transfers-endpoint record. No node list yet
  // (a failure while initializing): the array holds the error entry alone.
  TransferFatalErrorEvent(context_, status_, nullptr).Dispatch();
  sent = analytics_.records.Take();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].category, 1);
  EXPECT_EQ(sent[0].json,
            "[" + std::string(kCounterHead) + R"("numFatalErrors":"1"},"dimensions":{}}])" + "\n");
  EXPECT_EQ(log_.records.Take()[0].json, LogLine("FatalError"));
}

TEST_F(TransferEventTest, PeriodicReportsSendNoLogLine) {
  RunFor(64, 300000);
  TransferPeriodicEvent(WithNodes(), status_).Dispatch();
  auto sent = analytics_.records.Take();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].category, 32);
  EXPECT_EQ(sent[0].json, TransferRecord("active", "64", "300") + "\n");
  EXPECT_EQ(sent[1].json,
            "[" + Node("n1.example", "0", "0") + "," + Node("n2.example:8080", "0", "0") + "]\n");
  EXPECT_TRUE(log_.records.Take().empty());
  EXPECT_EQ(status_.PeekActiveMsDelta(), 0u);

  TransferPeriodicEvent(context_, status_).Dispatch();
  sent = analytics_.records.Take();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].json, "[]\n");
}

TEST_F(TransferEventTest, EventsWithoutSinksDoNothing) {
  TransferEventContext bare = context_;
  bare.behavior.analytics = nullptr;
  bare.behavior.workLog = nullptr;
  RunFor(10, 10);
  TransferCancelEvent(bare, status_).Dispatch();
  TransferInitializeEvent(bare).Dispatch();
  EXPECT_TRUE(analytics_.records.Take().empty());
  EXPECT_TRUE(log_.records.Take().empty());
}

}  // namespace
}  // namespace velmo
