#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <map>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "support/ScopedEnv.h"
#include "velmo/http/ChooseProxy.h"
#include "velmo/http/EnvironmentHttpProxy.h"
#include "velmo/http/LibproxyHttpProxy.h"
#include "velmo/http/SystemHttpProxyFactory.h"
#include "velmo/http/TimeLimitedHttpProxy.h"

namespace velmo {
namespace {

TEST(ChooseProxyTest, SchemeEntryWinsOverBareEntry) {
  const std::string url = "http://node.example.com/packages/x";
  EXPECT_EQ(ChooseProxy(url, "http=p1:80; https=p2:443", ""), "p1:80");
  EXPECT_EQ(ChooseProxy(url, "p3:3128", ""), "p3:3128");
  EXPECT_EQ(ChooseProxy(url, "p3:3128; http=p1:80", ""), "p1:80");
  EXPECT_EQ(ChooseProxy(url, "https=p2:443", ""), "");
  EXPECT_EQ(ChooseProxy(url, "", ""), "");
  // Without the space the two entries are one, and all of it is the proxy text.
  EXPECT_EQ(ChooseProxy(url, "http=p1:80;https=p2:443", ""), "p1:80;https=p2:443");
  EXPECT_EQ(ChooseProxy(url, "http=:", ""), "");
  EXPECT_EQ(ChooseProxy(url, "::", ""), "");
}

TEST(ChooseProxyTest, BypassPatternsMatchWholeLowerCaseHosts) {
  const std::string list = "http=p:1";
  EXPECT_EQ(ChooseProxy("http://a.corp.example/x", list, "*.corp.example"), "");
  EXPECT_EQ(ChooseProxy("http://corp.example/x", list, "*.corp.example"), "p:1");
  EXPECT_EQ(ChooseProxy("http://host/x", list, "other; host"), "");
  EXPECT_EQ(ChooseProxy("http://host2/x", list, "host"), "p:1");
  // Hosts arrive in lower case; an upper-case pattern never matches.
  EXPECT_EQ(ChooseProxy("http://HOST/x", list, "host"), "");
  EXPECT_EQ(ChooseProxy("http://host/x", list, "HOST"), "p:1");
  // A dot is a dot, and other pattern characters cannot break the expression.
  EXPECT_EQ(ChooseProxy("http://axb/x", list, "a.b"), "p:1");
  EXPECT_EQ(ChooseProxy("http://host/x", list, "(h[ost"), "p:1");
  EXPECT_EQ(ChooseProxy("http://h+ost/x", list, "h+ost"), "");
  // Several wildcards backtrack over each other.
  EXPECT_EQ(ChooseProxy("http://a1b2bc/x", list, "a*b*c"), "");
  EXPECT_EQ(ChooseProxy("http://a1b2cd/x", list, "a*b*c"), "p:1");
  EXPECT_EQ(ChooseProxy("http://anything/x", list, "*"), "");
}

std::optional<EnvironmentHttpProxy> FromMap(const std::map<std::string, std::string>& values) {
  return EnvironmentHttpProxy::FromEnvironment(
      [&](const std::string& name) -> std::optional<std::string> {
        const auto found = values.find(name);
        if (found == values.end()) return std::nullopt;
        return found->second;
      });
}

TEST(EnvironmentHttpProxyTest, VariablesBecomeProxyAndBypassLists) {
  EXPECT_FALSE(FromMap({}));
  EXPECT_FALSE(FromMap({{"http_proxy", "  "}, {"no_proxy", "a"}}));

  auto proxy = FromMap({{"HTTP_PROXY", "proxy:3128"}, {"no_proxy", "Local.Example, .corp ,*"}});
  ASSERT_TRUE(proxy);
  EXPECT_EQ(proxy->proxyList(), "http=proxy:3128");
  EXPECT_EQ(proxy->bypassList(), "local.example; *.local.example; corp; *.corp; *");
  EXPECT_EQ(proxy->GetProxyForUrl("http://anything/x"), "");  // "*" bypasses every host

  proxy = FromMap({{"http_proxy", "p1:1"}, {"all_proxy", "p2:2"}, {"no_proxy", "corp"}});
  ASSERT_TRUE(proxy);
  EXPECT_EQ(proxy->GetProxyForUrl("http://node/x"), "p1:1");
  EXPECT_EQ(proxy->GetProxyForUrl("http://corp/x"), "");
  EXPECT_EQ(proxy->GetProxyForUrl("http://a.corp/x"), "");
  EXPECT_EQ(proxy->GetProxyForUrl("http://acorp/x"), "p1:1");

  proxy = FromMap({{"ALL_PROXY", "p2:2"}});
  ASSERT_TRUE(proxy);
  EXPECT_EQ(proxy->GetProxyForUrl("http://node/x"), "p2:2");
}

TEST(SystemHttpProxyFactoryTest, PicksTheEnvironmentWhenSetAndKeepsItsTimeouts) {
  SystemHttpProxyFactory manual(1, 2, 3, 4, [](const std::string& name) {
    return name == "http_proxy" ? std::optional<std::string>("p:8") : std::nullopt;
  });
  EXPECT_NE(std::dynamic_pointer_cast<EnvironmentHttpProxy>(manual.Create()), nullptr);
  EXPECT_EQ(manual.resolveTimeout(), 1);
  EXPECT_EQ(manual.receiveTimeout(), 4);

  SystemHttpProxyFactory automatic(1000, 2000, 3000, 4000,
                                   [](const std::string&) { return std::nullopt; });
  auto bounded = std::dynamic_pointer_cast<TimeLimitedHttpProxy>(automatic.Create());
  ASSERT_NE(bounded, nullptr) << "libproxy's discovery is always bounded";
  EXPECT_NE(std::dynamic_pointer_cast<LibproxyHttpProxy>(bounded->Inner()), nullptr);
  EXPECT_EQ(bounded->Limit(), std::chrono::milliseconds(10000));
}

// A discovery that takes as long as its test wants (bounded, so a test never
// hangs), counting its questions.
class SlowProxy : public HttpProxy {
 public:
  std::string GetProxyForUrl(const std::string& url) override {
    questions.fetch_add(1);
    std::unique_lock<std::mutex> lock(mutex_);
    released_.wait_for(lock, std::chrono::seconds(20), [&] { return open_; });
    if (url.find("throw") != std::string::npos) throw std::runtime_error("PAC script failed");
    return "pac-proxy:8080";
  }
  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    released_.notify_all();
  }
  std::atomic<int> questions{0};

 private:
  std::mutex mutex_;
  std::condition_variable released_;
  bool open_ = false;
};

TEST(TimeLimitedHttpProxyTest, ASlowDiscoveryGoesDirectOnceItsTimeIsUpAndSaysSo) {
  auto slow = std::make_shared<SlowProxy>();
  std::vector<std::string> notices;
  std::mutex noticesMutex;
  TimeLimitedHttpProxy proxy(slow, std::chrono::milliseconds(50), [&](const std::string& text) {
    std::lock_guard<std::mutex> lock(noticesMutex);
    notices.push_back(text);
  });
  // Several pool threads ask at once; each is answered (direct) in bounded time.
  std::vector<std::future<std::string>> answers;
  for (int i = 0; i < 4; ++i) {
    answers.push_back(
        std::async(std::launch::async, [&] { return proxy.GetProxyForUrl("http://node/x"); }));
  }
  for (auto& answer : answers) {
    ASSERT_EQ(answer.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(answer.get(), "");
  }
  EXPECT_TRUE(proxy.TimedOut());
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0], "proxy discovery gave no answer within 50 ms; connecting directly");
  // Later questions do not wait again, nor ask the discovery.
  const int asked = slow->questions.load();
  EXPECT_EQ(proxy.GetProxyForUrl("http://node/y"), "");
  EXPECT_EQ(slow->questions.load(), asked);
  slow->Release();  // the abandoned threads end on their own
}

TEST(TimeLimitedHttpProxyTest, AnswersWithinTheLimitAreKept) {
  auto slow = std::make_shared<SlowProxy>();
  slow->Release();
  int notices = 0;
  TimeLimitedHttpProxy proxy(slow, std::chrono::seconds(20),
                             [&](const std::string&) { ++notices; });
  EXPECT_EQ(proxy.GetProxyForUrl("http://node/x"), "pac-proxy:8080");
  EXPECT_EQ(proxy.GetProxyForUrl("http://throw/x"), "") << "a failed discovery is direct";
  EXPECT_FALSE(proxy.TimedOut());
  EXPECT_EQ(notices, 0);
}

// Each scheme and host is discovered once; a question the worker does not
// get to in time is still answered (direct) within the limit.
TEST(TimeLimitedHttpProxyTest, AnswersAreKeptPerSchemeAndHost) {
  auto slow = std::make_shared<SlowProxy>();
  slow->Release();
  TimeLimitedHttpProxy proxy(slow, std::chrono::seconds(20), [](const std::string&) {});
  const struct {
    const char* url;
    int questions;  // asked of the inner proxy so far
  } steps[] = {{"http://node/x", 1},     {"http://NODE:8080/y?z", 1}, {"http://user@node/z", 1},
               {"https://node/x", 2},    {"http://node2/x", 3},       {"http://[::1]:80/x", 4},
               {"http://[::1]:81/y", 4}, {"http://throw/x", 5},       {"http://throw/y", 5}};
  for (const auto& step : steps) {
    proxy.GetProxyForUrl(step.url);
    EXPECT_EQ(slow->questions.load(), step.questions) << step.url;
  }
  EXPECT_EQ(proxy.GetProxyForUrl("http://node/again"), "pac-proxy:8080");

  auto hung = std::make_shared<SlowProxy>();
  TimeLimitedHttpProxy bounded(hung, std::chrono::milliseconds(20), [](const std::string&) {});
  EXPECT_EQ(bounded.GetProxyForUrl("http://node/x"), "");
  EXPECT_TRUE(bounded.TimedOut());
  hung->Release();
}

TEST(LibproxyHttpProxyTest, AnswersBecomeAddressesOrFailures) {
  bool failed = true;
  char direct[] = "direct://";
  char http[] = "http://proxy.example:3128/";
  char socks[] = "socks5://s:1080";
  char* answer1[] = {direct, nullptr};
  char* answer2[] = {http, direct, nullptr};
  char* answer3[] = {socks, nullptr};
  char* empty[] = {nullptr};
  EXPECT_EQ(LibproxyHttpProxy::FromLibproxyAnswer(answer1, &failed), "");
  EXPECT_FALSE(failed);
  EXPECT_EQ(LibproxyHttpProxy::FromLibproxyAnswer(answer2, &failed), "proxy.example:3128");
  EXPECT_EQ(LibproxyHttpProxy::FromLibproxyAnswer(answer3, &failed), "socks5://s:1080");
  EXPECT_EQ(LibproxyHttpProxy::FromLibproxyAnswer(empty, &failed), "");
  EXPECT_TRUE(failed);
  EXPECT_EQ(LibproxyHttpProxy::FromLibproxyAnswer(nullptr, &failed), "");
  EXPECT_TRUE(failed);
}

// An answer libproxy gives that names no usable proxy (here a setting of
// "http://", a proxy without a host) turns the proxy direct for the rest of
// its life: a mended setting is not asked again, only a new proxy asks. A
// direct answer is an answer, not a failure, and switches nothing.
TEST(LibproxyHttpProxyTest, AFailedDiscoveryTurnsItDirectForGood) {
  test::ScopedEnv env;
  for (const char* name : {"HTTP_PROXY", "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"}) {
    env.Set(name, nullptr);
  }
  env.Set("PX_CONFIG_ORDER", "config_envvar");  // the environment alone, not the desktop's
  const char* const good = "http://proxy.example:3128/";
  struct Step {
    const char* setting;  // http_proxy, null for none
    const char* answer;
  };
  LibproxyHttpProxy proxy;
  for (const Step& step :
       {Step{nullptr, ""}, Step{good, "proxy.example:3128"}, Step{"http://", ""}, Step{good, ""}}) {
    env.Set("http_proxy", step.setting);
    EXPECT_EQ(proxy.GetProxyForUrl("http://node.example/x"), step.answer) << step.answer;
  }
  EXPECT_TRUE(proxy.failed());
  EXPECT_EQ(LibproxyHttpProxy().GetProxyForUrl("http://node.example/x"), "proxy.example:3128");
}

}  // namespace
}  // namespace velmo
