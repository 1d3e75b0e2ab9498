// What the request factory relies on from every proxy, whichever discovery is
// behind it: an empty answer means a direct connection and is what a machine
// without proxy settings gets; a configured proxy comes back as host:port
// (no scheme, no slash), for http and https URLs alike; no URL, however odd,
// makes it throw; and many pool threads may ask at once, each answered in
// bounded time with the same answer. How each discovery reads its settings
// is in ProxyChoiceTest.
//
// The environment is fixed for each test: the proxy variables are cleared
// (or set), and libproxy is told to read only them, so the desktop's own
// settings cannot change the outcome.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "support/ScopedEnv.h"
#include "velmo/http/EmptyHttpProxy.h"
#include "velmo/http/EnvironmentHttpProxy.h"
#include "velmo/http/HttpProxy.h"
#include "velmo/http/LibproxyHttpProxy.h"
#include "velmo/http/TimeLimitedHttpProxy.h"

namespace velmo {
namespace {

constexpr auto kBound = std::chrono::seconds(30);
constexpr const char* kProxy = "proxy.example:3128";

// Each kind makes its proxy in an environment without proxy settings; with
// `proxy` given, configured (in its own way) to use that proxy.
struct EmptyKind {
  static constexpr bool kConfigurable = false;
  static std::shared_ptr<HttpProxy> Make(test::ScopedEnv&, const char*) {
    return std::make_shared<EmptyHttpProxy>();
  }
};

struct EnvironmentKind {
  static constexpr bool kConfigurable = true;
  static std::shared_ptr<HttpProxy> Make(test::ScopedEnv& env, const char* proxy) {
    if (!proxy) return std::make_shared<EnvironmentHttpProxy>("", "");
    env.Set("http_proxy", proxy);
    env.Set("no_proxy", "bypassed.example");
    std::optional<EnvironmentHttpProxy> made =
        EnvironmentHttpProxy::FromEnvironment(ReadProcessEnvironment);
    return made ? std::make_shared<EnvironmentHttpProxy>(std::move(*made)) : nullptr;
  }
};

struct LibproxyKind {
  static constexpr bool kConfigurable = true;
  static std::shared_ptr<HttpProxy> Make(test::ScopedEnv& env, const char* proxy) {
    if (proxy) {
      const std::string url = std::string("http://") + proxy + "/";
      env.Set("http_proxy", url.c_str());
      env.Set("https_proxy", url.c_str());
    }
    return std::make_shared<LibproxyHttpProxy>();
  }
};

template <typename Inner>
struct TimeLimitedKind {
  static constexpr bool kConfigurable = Inner::kConfigurable;
  static std::shared_ptr<HttpProxy> Make(test::ScopedEnv& env, const char* proxy) {
    return std::make_shared<TimeLimitedHttpProxy>(Inner::Make(env, proxy), kBound,
                                                  [](const std::string&) {});
  }
};

// Empty, or host:port as libcurl takes it (a scheme other than http may
// stand before it, as libproxy reports SOCKS proxies).
bool IsAddressOrDirect(const std::string& answer) {
  if (answer.empty()) return true;
  if (answer.rfind("http://", 0) == 0 || answer.rfind("direct://", 0) == 0) return false;
  if (answer.back() == '/') return false;
  return answer.find_first_of(" \t\r\n;") == std::string::npos;
}

const std::vector<std::string>& OddUrls() {
  static const std::vector<std::string> urls = {
      "",
      "not a url",
      "http://",
      "http://[::1",
      "ftp://node.example/x",
      "http://node.example:99999/x",
      "http://a b/x",
      "https://" + std::string(100000, 'a') + "/x",
      std::string("http://node.example/\0x", 22),
  };
  return urls;
}

template <typename Kind>
class HttpProxyContractTest : public ::testing::Test {
 protected:
  HttpProxyContractTest() {
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy",
                             "ALL_PROXY", "no_proxy", "NO_PROXY", "ftp_proxy"}) {
      env_.Set(name, nullptr);
    }
    env_.Set("PX_CONFIG_ORDER", "config_envvar");
  }
  std::shared_ptr<HttpProxy> Direct() { return Kind::Make(env_, nullptr); }
  std::shared_ptr<HttpProxy> Configured() { return Kind::Make(env_, kProxy); }

  test::ScopedEnv env_;
};

using HttpProxyKinds =
    ::testing::Types<EmptyKind, EnvironmentKind, LibproxyKind, TimeLimitedKind<LibproxyKind>,
                     TimeLimitedKind<EnvironmentKind>>;
TYPED_TEST_SUITE(HttpProxyContractTest, HttpProxyKinds);

TYPED_TEST(HttpProxyContractTest, WithoutProxySettingsEveryUrlGoesDirect) {
  const auto proxy = this->Direct();
  ASSERT_TRUE(proxy);
  for (const char* url : {"http://node.example/packages/x", "https://node.example/packages/x",
                          "http://127.0.0.1:8080/x", "https://[::1]:8443/x"}) {
    EXPECT_EQ(proxy->GetProxyForUrl(url), "") << url;
  }
}

TYPED_TEST(HttpProxyContractTest, AConfiguredProxyIsHostAndPortForHttpAndHttpsAlike) {
  if (!TypeParam::kConfigurable) GTEST_SKIP() << "this kind has no proxy to configure";
  const auto proxy = this->Configured();
  ASSERT_TRUE(proxy);
  EXPECT_EQ(proxy->GetProxyForUrl("http://node.example/packages/x"), kProxy);
  EXPECT_EQ(proxy->GetProxyForUrl("https://node.example/packages/x"), kProxy);
  EXPECT_EQ(proxy->GetProxyForUrl("http://node.example:8080/x?y#z"), kProxy);
}

TYPED_TEST(HttpProxyContractTest, OddUrlsNeverThrowAndGetAnAddressOrDirect) {
  for (const auto& proxy : {this->Direct(), this->Configured()}) {
    ASSERT_TRUE(proxy);
    for (const std::string& url : OddUrls()) {
      std::string answer;
      EXPECT_NO_THROW(answer = proxy->GetProxyForUrl(url)) << url.substr(0, 40);
      EXPECT_TRUE(IsAddressOrDirect(answer)) << "'" << answer << "' for " << url.substr(0, 40);
    }
  }
}

TYPED_TEST(HttpProxyContractTest, ThreadsAskingAtOnceAreEachAnsweredTheSame) {
  for (const auto& proxy : {this->Direct(), this->Configured()}) {
    ASSERT_TRUE(proxy);
    const std::string http = "http://node.example/x";
    const std::string https = "https://node.example/x";
    const std::string expectedHttp = proxy->GetProxyForUrl(http);
    const std::string expectedHttps = proxy->GetProxyForUrl(https);
    std::vector<std::future<std::vector<std::string>>> askers;
    for (int t = 0; t < 4; ++t) {
      askers.push_back(std::async(std::launch::async, [&proxy, &http, &https] {
        std::vector<std::string> answers;
        for (int i = 0; i < 10; ++i) {
          answers.push_back(proxy->GetProxyForUrl(http));
          answers.push_back(proxy->GetProxyForUrl(https));
        }
        return answers;
      }));
    }
    for (auto& asker : askers) {
      ASSERT_EQ(asker.wait_for(kBound), std::future_status::ready) << "a question was not answered";
      const std::vector<std::string> answers = asker.get();
      for (std::size_t i = 0; i < answers.size(); ++i) {
        EXPECT_EQ(answers[i], i % 2 == 0 ? expectedHttp : expectedHttps);
      }
    }
  }
}

}  // namespace
}  // namespace velmo
