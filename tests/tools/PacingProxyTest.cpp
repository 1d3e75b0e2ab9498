// Runs the benchmark's pacing proxy (tools/velmo-pacing-proxy) in front of
// the in-process test server: it forwards requests and bodies unchanged,
// counts what it delivered, and in stall mode sends the headers of a response
// and none of its body.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/TempDir.h"
#include "support/TestHttpServer.h"
#include "velmo/http/CurlHttpRequestFactory.h"
#include "velmo/http/EmptyHttpProxy.h"
#include "velmo/http/HttpStringstreamWriter.h"

namespace velmo {
namespace {

const std::string kProxy =
    std::string(VELMO_BINARY_DIR) + "/tools/velmo-pacing-proxy/velmo-pacing-proxy";

class DirectProxies : public HttpProxyFactory {
 public:
  std::shared_ptr<HttpProxy> Create() override { return std::make_shared<EmptyHttpProxy>(); }
};

// The value of "key=" in a small file; empty when it is not there (yet).
std::string ReadKey(const std::filesystem::path& file, const std::string& key) {
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
  }
  return "";
}

// The proxy as a child process, stopped with SIGTERM (and waited for) at the end.
class ProxyProcess {
 public:
  ProxyProcess(const test::TempDir& dir, std::uint16_t target, std::vector<std::string> extra)
      : portFile_(dir / "proxy.port"), statsFile_(dir / "proxy.stats") {
    std::vector<std::string> args = {kProxy,        "--target", std::to_string(target),
                                     "--port-file", portFile_,  "--stats-file",
                                     statsFile_};
    args.insert(args.end(), extra.begin(), extra.end());
    pid_ = fork();
    if (pid_ == 0) {
      std::vector<char*> argv;
      for (auto& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      execv(kProxy.c_str(), argv.data());
      _exit(127);
    }
    for (int i = 0; i < 100 && ReadKey(portFile_, "port").empty(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const std::string port = ReadKey(portFile_, "port");
    if (!port.empty()) port_ = static_cast<std::uint16_t>(std::stoi(port));
  }
  ~ProxyProcess() { Stop(); }

  // Ends the proxy; true when it exited with status 0.
  bool Stop() {
    if (pid_ <= 0) return exited_;
    kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 100; ++i) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        pid_ = -1;
        return exited_;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return false;
  }

  std::uint16_t Port() const { return port_; }
  std::uint64_t Sent() const {
    const std::string sent = ReadKey(statsFile_, "sent");
    return sent.empty() ? 0 : std::stoull(sent);
  }

 private:
  std::filesystem::path portFile_;
  std::filesystem::path statsFile_;
  pid_t pid_ = -1;
  std::uint16_t port_ = 0;
  bool exited_ = false;
};

HttpRequestStatus Fetch(std::uint16_t port, const std::string& path, std::string& body,
                        std::uint64_t first, std::uint64_t last, std::int32_t lowSpeedTime = 0) {
  DirectProxies proxies;
  CurlHttpRequestFactory factory(proxies);
  std::stringstream out;
  HttpStringstreamWriter writer(&out);
  HttpRequestParams params("http://127.0.0.1:" + std::to_string(port) + path, &writer);
  params.rangeStart = first;
  params.rangeEnd = last;
  params.timeout = 20;
  if (lowSpeedTime > 0) {
    params.lowSpeedLimit = 1;
    params.lowSpeedTime = lowSpeedTime;
  }
  const HttpRequestStatus status = factory.Create(params)->Execute();
  body = out.str();
  return status;
}

TEST(PacingProxyTest, ForwardsRangesUnchangedAndCountsWhatItDelivered) {
  if (access(kProxy.c_str(), X_OK) != 0) GTEST_SKIP() << "velmo-pacing-proxy is not built";
  test::TestHttpServer server;
  std::string content(3000000, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 13 + 5);
  server.SetBody("/file.bin", content);
  test::TempDir dir;
  ProxyProcess proxy(dir, server.Port(), {"--rate", "50000000"});
  ASSERT_NE(proxy.Port(), 0) << "the proxy did not start";

  std::string body;
  for (int i = 0; i < 3; ++i) {  // three requests, one after another
    EXPECT_EQ(Fetch(proxy.Port(), "/file.bin", body, 1000000, 2999999).result,
              HttpRequestResult::Success);
    EXPECT_EQ(body, content.substr(1000000, 2000000));
  }
  EXPECT_EQ(server.BytesServed("/file.bin"), 6000000u);
  EXPECT_TRUE(proxy.Stop());
  // Bodies and headers went out; the count is written at exit.
  EXPECT_GT(proxy.Sent(), 6000000u);
  EXPECT_LT(proxy.Sent(), 6010000u);
}

TEST(PacingProxyTest, StallModeSendsTheHeadersAndNoBody) {
  if (access(kProxy.c_str(), X_OK) != 0) GTEST_SKIP() << "velmo-pacing-proxy is not built";
  test::TestHttpServer server;
  server.SetBody("/file.bin", std::string(500000, 'x'));
  test::TempDir dir;
  ProxyProcess proxy(dir, server.Port(), {"--stall-after-headers"});
  ASSERT_NE(proxy.Port(), 0) << "the proxy did not start";
  std::string body;
  const HttpRequestStatus status = Fetch(proxy.Port(), "/file.bin", body, 0, 499999, 1);
  EXPECT_EQ(status.result, HttpRequestResult::Timeout);
  EXPECT_EQ(status.responseCode, 206);
  EXPECT_TRUE(body.empty());
  EXPECT_TRUE(proxy.Stop());
  const std::uint64_t sent = proxy.Sent();
  EXPECT_GT(sent, 0u);
  EXPECT_LT(sent, 1000u);  // the header block only
}

}  // namespace
}  // namespace velmo
