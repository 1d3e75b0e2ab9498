#include <gtest/gtest.h>

#include "velmo/http/HttpRequestFactory.h"
#include "velmo/http/PooledHttpRequestWrapper.h"
#include "velmo/http/RoundRobinHttpRequestPool.h"

namespace velmo {
namespace {

// A request that records its resets and can pretend to be performing.
class FakeRequest : public HttpRequest {
 public:
  explicit FakeRequest(std::string id) : name(std::move(id)) {}
  HttpRequestStatus Execute() override { return HttpRequestStatus(HttpRequestResult::Success); }
  HttpRequestStatus GetStatus() override { return HttpRequestStatus(); }
  void Cancel() override {}
  bool Reset(const HttpRequestParams& params, const std::string& proxy) override {
    if (performing) return false;
    lastUrl = params.url;
    lastProxy = proxy;
    ++resets;
    return true;
  }
  std::string name;
  bool performing = false;
  int resets = 0;
  std::string lastUrl;
  std::string lastProxy;
};

class FixedProxy : public HttpProxy {
 public:
  std::string GetProxyForUrl(const std::string& url) override { return "proxy-for-" + url; }
};

class FixedProxyFactory : public HttpProxyFactory {
 public:
  std::shared_ptr<HttpProxy> Create() override {
    ++created;
    return std::make_shared<FixedProxy>();
  }
  int created = 0;
};

class FakeRequestFactory : public HttpRequestFactory {
 public:
  using HttpRequestFactory::HttpRequestFactory;
  std::shared_ptr<HttpRequest> NewRequest(const HttpRequestParams& params,
                                          const std::string& proxy) override {
    auto request = std::make_shared<FakeRequest>("new" + std::to_string(made.size()));
    request->lastUrl = params.url;
    request->lastProxy = proxy;
    made.push_back(request);
    return request;
  }
  std::vector<std::shared_ptr<FakeRequest>> made;
};

HttpRequestParams Params(const std::string& url) { return HttpRequestParams(url, nullptr); }

TEST(HttpRequestPoolTest, IdleRequestsAreReusedFirstInFirstOut) {
  RoundRobinHttpRequestPool pool;
  auto a = std::make_shared<FakeRequest>("A");
  auto b = std::make_shared<FakeRequest>("B");
  pool.Add(a, true);
  pool.Add(b, true);
  pool.Add(a, true);  // known already: not queued twice
  EXPECT_EQ(pool.Acquire(Params("u1"), "p"), a);
  EXPECT_EQ(a->lastUrl, "u1");
  EXPECT_EQ(a->lastProxy, "p");
  pool.Release(a);
  pool.Release(a);  // already idle: the queue is unchanged
  EXPECT_EQ(pool.Acquire(Params("u2"), ""), b);
  EXPECT_EQ(pool.Acquire(Params("u3"), ""), a);
  EXPECT_EQ(pool.Acquire(Params("u4"), ""), nullptr);
}

TEST(HttpRequestPoolTest, ARequestStillPerformingIsForgotten) {
  RoundRobinHttpRequestPool pool;
  auto busy = std::make_shared<FakeRequest>("busy");
  auto free = std::make_shared<FakeRequest>("free");
  busy->performing = true;
  pool.Add(busy, true);
  pool.Add(free, true);
  EXPECT_EQ(pool.Acquire(Params("u"), ""), free);
  // The pool forgot `busy`: releasing it does not make it idle again.
  pool.Release(busy);
  busy->performing = false;
  EXPECT_EQ(pool.Acquire(Params("u"), ""), nullptr);
  // A request added as in use becomes idle only when released.
  auto used = std::make_shared<FakeRequest>("used");
  pool.Add(used, false);
  EXPECT_EQ(pool.Acquire(Params("u"), ""), nullptr);
  pool.Release(used);
  EXPECT_EQ(pool.Acquire(Params("u"), ""), used);
}

TEST(HttpRequestPoolTest, FactoryDrawsFromTheSessionPoolAndReturnsOnDrop) {
  FixedProxyFactory proxies;
  FakeRequestFactory factory(proxies);
  auto session = std::make_shared<HttpSession>(std::make_shared<RoundRobinHttpRequestPool>());

  auto first = factory.Create(Params("http://a/1"), session);
  auto second = factory.Create(Params("http://a/2"), session);
  ASSERT_EQ(factory.made.size(), 2u);  // both in use at once: two requests
  EXPECT_EQ(factory.made[0]->lastProxy, "proxy-for-http://a/1");
  EXPECT_EQ(proxies.created, 1);  // discovered once per session
  first.reset();
  second.reset();

  auto third = factory.Create(Params("http://a/3"), session);
  auto fourth = factory.Create(Params("http://a/4"), session);
  EXPECT_EQ(factory.made.size(), 2u);  // both came from the pool, oldest idle first
  EXPECT_EQ(factory.made[0]->lastUrl, "http://a/3");
  EXPECT_EQ(factory.made[1]->lastUrl, "http://a/4");

  // Without a session, or with a session without a pool, nothing is pooled.
  factory.Create(Params("http://a/5"));
  factory.Create(Params("http://a/6"), std::make_shared<HttpSession>(nullptr));
  EXPECT_EQ(factory.made.size(), 4u);
  EXPECT_EQ(proxies.created, 3);
}

}  // namespace
}  // namespace velmo
