// Drives scripts/serve (nginx) end to end through the engine's own HTTP client:
// the published tree is reachable as the manifest host and as nodes, ranges
// work, the corrupt node differs and the analytics sink answers 204.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "Publisher.h"
#include "support/TempDir.h"
#include "velmo/http/CurlHttpRequestFactory.h"
#include "velmo/http/EmptyHttpProxy.h"
#include "velmo/http/HttpStringstreamWriter.h"
#include "velmo/manifest/HttpPackageManifestFactory.h"

namespace velmo::publish {
namespace {

bool HaveNginx() { return access("/usr/sbin/nginx", X_OK) == 0; }

class DirectProxies : public HttpProxyFactory {
 public:
  std::shared_ptr<HttpProxy> Create() override { return std::make_shared<EmptyHttpProxy>(); }
};

// One request through the engine's HTTP client; returns the status and fills `body`.
HttpRequestStatus Fetch(HttpRequestFactory& factory, const std::string& url, std::string& body,
                        std::uint64_t first = 0,
                        std::uint64_t last = HttpRequestParams::kRangeEndOpen,
                        const char* post = nullptr) {
  std::stringstream out;
  HttpStringstreamWriter writer(&out);
  HttpRequestParams params(url, &writer);
  params.rangeStart = first;
  params.rangeEnd = last;
  params.timeout = 10;
  if (post != nullptr) {
    params.method = HttpRequestParams::kPost;
    params.body = post;
    params.contentType = "application/json";
  }
  const HttpRequestStatus status = factory.Create(params)->Execute();
  body = out.str();
  return status;
}

TEST(ServeTest, ServesManifestsRangesAndAnalytics) {
  if (!HaveNginx()) GTEST_SKIP() << "nginx is not installed; run scripts/install-deps";
  test::TempDir dir;
  std::filesystem::create_directories(dir / "src");
  std::string content(200000, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
  std::ofstream(dir / "src/file.bin", std::ios::binary) << content;
  PackageOptions o;
  o.partnerId = "p";
  o.packageId = "g";
  o.versionId = "1";
  o.name = "G";
  o.tree = dir / "tree";
  o.source = dir / "src";
  o.chunkSize = 65536;
  PublishPackage(o);

  std::string command = std::string(VELMO_SOURCE_DIR) +
                        "/scripts/serve --nodes 2 --corrupt-node 2 --run-dir " + (dir / "run") +
                        " " + (dir / "tree") + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::map<std::string, std::string> ports;
  char line[512];
  while (fgets(line, sizeof line, pipe)) {
    std::string l(line);
    auto eq = l.find('=');
    if (eq != std::string::npos) ports[l.substr(0, eq)] = l.substr(eq + 1, l.size() - eq - 2);
  }
  ASSERT_EQ(pclose(pipe), 0) << "scripts/serve failed";
  ASSERT_EQ(ports.count("node2"), 1u);

  DirectProxies proxies;
  CurlHttpRequestFactory requests(proxies);
  XmlHttpPackageManifestFactory manifests("127.0.0.1:" + ports["manifest"], &requests, 5, 10);
  const auto manifest = manifests.Create("g");
  EXPECT_EQ(manifest->GetVersionId(), "1");
  EXPECT_EQ(manifest->GetFiles().at(0)->GetSize(), content.size());
  EXPECT_EQ(manifests.Create("g/1")->GetFiles().at(0)->GetChecksums(),
            manifest->GetFiles().at(0)->GetChecksums());

  std::string chunk;
  const std::string path = "/packages/p/g/1/file.bin";
  HttpRequestStatus status =
      Fetch(requests, "http://127.0.0.1:" + ports["node1"] + path, chunk, 65536, 131071);
  EXPECT_EQ(status.result, HttpRequestResult::Success);
  EXPECT_EQ(status.responseCode, 206);
  EXPECT_EQ(chunk, content.substr(65536, 65536));
  std::string bad;
  EXPECT_EQ(
      Fetch(requests, "http://127.0.0.1:" + ports["node2"] + path, bad, 65536, 131071).responseCode,
      206);
  EXPECT_EQ(bad.size(), 65536u);
  EXPECT_NE(bad, chunk) << "the corrupt node serves damaged bytes";
  std::string none;
  status = Fetch(requests, "http://127.0.0.1:" + ports["analytics"] + "/events", none, 0,
                 HttpRequestParams::kRangeEndOpen, "{}");
  EXPECT_EQ(status.result, HttpRequestResult::Success);
  EXPECT_EQ(status.responseCode, 204);
  EXPECT_EQ(
      Fetch(requests, "http://127.0.0.1:" + ports["manifest"] + "/manifests/none/current.xml", none)
          .result,
      HttpRequestResult::ClientError);

  std::string stop =
      std::string(VELMO_SOURCE_DIR) + "/scripts/serve --stop " + (dir / "run") + " >/dev/null";
  EXPECT_EQ(system(stop.c_str()), 0);
  EXPECT_EQ(
      Fetch(requests, "http://127.0.0.1:" + ports["manifest"] + "/manifests/g/current.xml", none)
          .result,
      HttpRequestResult::ConnectFailed)
      << "nginx is gone after --stop";
}

}  // namespace
}  // namespace velmo::publish
