// Drives scripts/serve (nginx) end to end: the published tree is reachable as
// the manifest host and as nodes, ranges work, the corrupt node differs and
// the analytics sink answers 204.
#include <curl/curl.h>
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
#include "velmo/manifest/StandardPackageManifest.h"
#include "velmo/manifest/XmlManifestReader.h"

namespace velmo::publish {
namespace {

bool HaveNginx() { return access("/usr/sbin/nginx", X_OK) == 0; }

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

// One request with plain libcurl; returns the status and fills `body`.
long Fetch(const std::string& url, std::string& body, const char* range = nullptr,
           const char* post = nullptr) {
  CURL* curl = curl_easy_init();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 10L);
  curl_easy_setopt(curl, CURLOPT_PROXY, "");
  if (range) curl_easy_setopt(curl, CURLOPT_RANGE, range);
  if (post) curl_easy_setopt(curl, CURLOPT_POSTFIELDS, post);
  long status = 0;
  if (curl_easy_perform(curl) == CURLE_OK) curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_cleanup(curl);
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

  std::string body;
  EXPECT_EQ(Fetch("http://127.0.0.1:" + ports["manifest"] + "/manifests/g/current.xml", body), 200);
  std::istringstream in(body);
  boost::property_tree::ptree tree;
  ReadXmlManifest(in, tree);
  StandardPackageManifest manifest;
  manifest.Parse(tree);
  EXPECT_EQ(manifest.GetFiles().at(0)->GetSize(), content.size());

  std::string chunk;
  EXPECT_EQ(Fetch("http://127.0.0.1:" + ports["node1"] + "/packages/p/g/1/file.bin", chunk,
                  "65536-131071"),
            206);
  EXPECT_EQ(chunk, content.substr(65536, 65536));
  std::string bad;
  EXPECT_EQ(
      Fetch("http://127.0.0.1:" + ports["node2"] + "/packages/p/g/1/file.bin", bad, "65536-131071"),
      206);
  EXPECT_EQ(bad.size(), 65536u);
  EXPECT_NE(bad, chunk) << "the corrupt node serves damaged bytes";
  std::string none;
  EXPECT_EQ(Fetch("http://127.0.0.1:" + ports["analytics"] + "/events", none, nullptr, "{}"), 204);

  std::string stop =
      std::string(VELMO_SOURCE_DIR) + "/scripts/serve --stop " + (dir / "run") + " >/dev/null";
  EXPECT_EQ(system(stop.c_str()), 0);
  EXPECT_NE(Fetch("http://127.0.0.1:" + ports["manifest"] + "/manifests/g/current.xml", body), 200)
      << "nginx is gone after --stop";
}

}  // namespace
}  // namespace velmo::publish
