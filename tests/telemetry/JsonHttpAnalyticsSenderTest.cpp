#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "support/TestHttpServer.h"
#include "velmo/http/CurlHttpRequestFactory.h"
#include "velmo/http/EmptyHttpProxy.h"
#include "velmo/http/HttpProxyFactory.h"
#include "velmo/http/RoundRobinHttpSessionFactory.h"
#include "velmo/telemetry/AnalyticsRequests.h"
#include "velmo/telemetry/JsonHttpAnalyticsManager.h"
#include "velmo/telemetry/JsonWriter.h"
#include "velmo/work/WorkCallbacks.h"
#include "velmo/work/WorkStatus.h"

namespace velmo {
namespace {

using test::TestHttpServer;

class DirectProxies : public HttpProxyFactory {
 public:
  std::shared_ptr<HttpProxy> Create() override { return std::make_shared<EmptyHttpProxy>(); }
};

class ResultRecorder : public WorkCompleteCallback {
 public:
  void OnWorkComplete(std::shared_ptr<const Work>, const WorkStatus& status) override {
    std::lock_guard<std::mutex> lock(mutex_);
    results.push_back(status.result);
  }
  std::vector<WorkResult> Results() {
    std::lock_guard<std::mutex> lock(mutex_);
    return results;
  }

 private:
  std::mutex mutex_;
  std::vector<WorkResult> results;
};

class JsonHttpAnalyticsSenderTest : public ::testing::Test {
 protected:
  // Sends one counter record of `category` and destroys the manager, which
  // waits for every attempt.
  void SendOne(std::int32_t category, AnalyticsEndpoints endpoints, std::int32_t retryCount = 1) {
    JsonHttpAnalyticsManager manager(&requests_, sessions_.Create(), 5, 10, retryCount,
                                     std::move(endpoints), 2);
    const auto event = manager.CreateEvent(category);
    SimpleEventAnalyticsRequest("partner", "pkg", "1.0", "numStarts").Write(event->GetTree());
    event->AddCompleteCallback(&recorder_);
    manager.Submit(event);
  }

  AnalyticsEndpoints Endpoints() {
    return AnalyticsEndpoints{server_.Url("/events"), server_.Url("/transfers")};
  }

  TestHttpServer server_;
  DirectProxies proxies_;
  CurlHttpRequestFactory requests_{proxies_};
  RoundRobinHttpSessionFactory sessions_;
  ResultRecorder recorder_;
};

TEST_F(JsonHttpAnalyticsSenderTest, RecordsArePostedAsJsonToTheirEndpoint) {
  SendOne(1, Endpoints());
  SendOne(JsonHttpAnalyticsManager::kTransferCategory, Endpoints());
  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].path, "/events");
  EXPECT_EQ(requests[1].path, "/transfers");
  EXPECT_EQ(requests[0].contentType, "application/json");
  EXPECT_EQ(requests[0].body,
            "{\"pid\":\"partner\",\"pkgid\":\"pkg\",\"vid\":\"1.0\","
            "\"metrics\":{\"numStarts\":\"1\"},\"dimensions\":{}}\n");
  EXPECT_EQ(recorder_.Results(),
            (std::vector<WorkResult>{WorkResult::Success, WorkResult::Success}));
}

TEST_F(JsonHttpAnalyticsSenderTest, ServerErrorsAreRetriedWithinTheBoundAndClientErrorsAreNot) {
  server_.SetStatuses("/events", {503, 503, 503});
  SendOne(1, Endpoints());
  // One attempt and one retry; the last failure is what the observers see.
  EXPECT_EQ(server_.RequestCount("/events"), 2);

  server_.SetStatuses("/transfers", {404});
  SendOne(JsonHttpAnalyticsManager::kTransferCategory, Endpoints());
  EXPECT_EQ(server_.RequestCount("/transfers"), 1);

  // A 503 followed by a success: the retry delivers the record.
  server_.SetStatuses("/other", {503});
  SendOne(1, AnalyticsEndpoints{server_.Url("/other"), ""});
  EXPECT_EQ(server_.RequestCount("/other"), 2);

  EXPECT_EQ(recorder_.Results(), (std::vector<WorkResult>{WorkResult::RetryableError,
                                                          WorkResult::Fatal, WorkResult::Success}));
}

// Makes the first request go to a port nobody listens on, as a sender whose
// first connection attempt is refused; later ones go where they are sent.
class FirstConnectionRefused : public CurlHttpRequestFactory {
 public:
  FirstConnectionRefused(HttpProxyFactory& proxies, std::string deadUrl)
      : CurlHttpRequestFactory(proxies), deadUrl_(std::move(deadUrl)) {}
  std::shared_ptr<HttpRequest> NewRequest(const HttpRequestParams& params,
                                          const std::string& proxy) override {
    if (made_++ > 0) return CurlHttpRequestFactory::NewRequest(params, proxy);
    HttpRequestParams refused = params;
    refused.url = deadUrl_;
    return CurlHttpRequestFactory::NewRequest(refused, proxy);
  }

 private:
  std::string deadUrl_;
  int made_ = 0;
};

TEST_F(JsonHttpAnalyticsSenderTest, ARefusedConnectionIsRetried) {
  std::string deadUrl;
  {
    TestHttpServer gone;
    deadUrl = gone.Url("/events");
  }
  for (std::int32_t retries : {1, 0}) {
    FirstConnectionRefused requests(proxies_, deadUrl);
    ResultRecorder recorder;
    {
      JsonHttpAnalyticsManager manager(&requests, sessions_.Create(), 5, 10, retries, Endpoints(),
                                       2);
      const auto event = manager.CreateEvent(1);
      SimpleEventAnalyticsRequest("partner", "pkg", "1.0", "numStarts").Write(event->GetTree());
      event->AddCompleteCallback(&recorder);
      manager.Submit(event);
    }
    if (retries == 1) {
      EXPECT_EQ(server_.RequestCount("/events"), 1) << "the retry delivered the record";
      EXPECT_EQ(recorder.Results(), std::vector<WorkResult>{WorkResult::Success});
    } else {
      EXPECT_EQ(server_.RequestCount("/events"), 1) << "no retry without a budget";
      EXPECT_EQ(recorder.Results(), std::vector<WorkResult>{WorkResult::RetryableError});
    }
  }
}

// Notes the thread that asks for each request.
class ThreadNotingRequests : public CurlHttpRequestFactory {
 public:
  using CurlHttpRequestFactory::CurlHttpRequestFactory;
  std::shared_ptr<HttpRequest> NewRequest(const HttpRequestParams& params,
                                          const std::string& proxy) override {
    thread_ = std::this_thread::get_id();  // read once the manager has joined its threads
    return CurlHttpRequestFactory::NewRequest(params, proxy);
  }
  std::thread::id thread_;
};

// Submit only queues a record: the post is made on a thread of the sender's
// own, never inline on the thread that submits (a transfer's, under its lock).
TEST_F(JsonHttpAnalyticsSenderTest, PostsAreMadeOnTheSendersThreads) {
  ThreadNotingRequests requests(proxies_);
  {
    JsonHttpAnalyticsManager manager(&requests, sessions_.Create(), 5, 10, 0, Endpoints(), 2);
    const auto event = manager.CreateEvent(1);
    SimpleEventAnalyticsRequest("partner", "pkg", "1.0", "numStarts").Write(event->GetTree());
    manager.Submit(event);
  }
  EXPECT_EQ(server_.RequestCount("/events"), 1);
  EXPECT_NE(requests.thread_, std::thread::id());
  EXPECT_NE(requests.thread_, std::this_thread::get_id());
}

TEST_F(JsonHttpAnalyticsSenderTest, AnEmptyEndpointSendsNothing) {
  SendOne(1, AnalyticsEndpoints{"", server_.Url("/transfers")});
  SendOne(JsonHttpAnalyticsManager::kTransferCategory,
          AnalyticsEndpoints{server_.Url("/events"), ""});
  EXPECT_TRUE(server_.Requests().empty());
  EXPECT_EQ(recorder_.Results(),
            (std::vector<WorkResult>{WorkResult::Success, WorkResult::Success}));
}

}  // namespace
}  // namespace velmo
