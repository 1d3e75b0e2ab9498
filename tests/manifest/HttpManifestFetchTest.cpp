
#include <gtest/gtest.h>

#include <sstream>

#include "support/TestHttpServer.h"
#include "velmo/http/CurlHttpRequestFactory.h"
#include "velmo/http/EmptyHttpProxy.h"
#include "velmo/http/HttpProxyFactory.h"
#include "velmo/manifest/HttpNodeListManifestFactory.h"
#include "velmo/manifest/HttpPackageManifestFactory.h"
#include "velmo/manifest/ManifestExceptions.h"
#include "velmo/manifest/StandardPackageManifest.h"
#include "velmo/manifest/XmlHttpManifestSource.h"

namespace velmo {
namespace {

using namespace std::chrono_literals;
using test::TestHttpServer;

class DirectProxyFactory : public HttpProxyFactory {
 public:
  std::shared_ptr<HttpProxy> Create() override { return std::make_shared<EmptyHttpProxy>(); }
};

const char kPackage[] =
    R"(<package id="pkg" name="n" partnerId="p" versionId="2.0">)"
    R"(<files><file path="a" chunksize="4" size="4" checksums="0000000a"/></files></package>)";

class HttpManifestFetchTest : public ::testing::Test {
 protected:
  DirectProxyFactory proxies_;
  CurlHttpRequestFactory requests_{proxies_};
  TestHttpServer server_;

  XmlHttpPackageManifestFactory Packages(int timeout = 30) {
    return XmlHttpPackageManifestFactory(server_.Host(), &requests_, 10, timeout);
  }
};

TEST_F(HttpManifestFetchTest, PackageManifestIsFetchedParsedAndMatched) {
  server_.SetBody("/manifests/pkg/current.xml", kPackage);
  server_.SetBody("/manifests/pkg/2.0.xml", kPackage);
  auto factory = Packages();
  const auto current = factory.Create("pkg");
  EXPECT_EQ(current->GetVersionId(), "2.0");
  ASSERT_EQ(current->GetFiles().size(), 1u);
  EXPECT_EQ(current->GetFiles()[0]->GetChecksums(), std::vector<std::uint32_t>{10u});
  EXPECT_EQ(factory.Create("pkg/2.0")->GetId(), "pkg");
  EXPECT_EQ(factory.BuildUrl("alpha beta?"),
            "http://" + server_.Host() + "/manifests/alpha%20beta%3F/current.xml");
}

TEST_F(HttpManifestFetchTest, AnotherPackageOrVersionIsALocatorFailure) {
  server_.SetBody("/manifests/other/current.xml", kPackage);
  server_.SetBody("/manifests/pkg/3.0.xml", kPackage);
  auto factory = Packages();
  EXPECT_THROW(factory.Create("other"), ManifestLocatorException);
  EXPECT_THROW(factory.Create("pkg/3.0"), ManifestLocatorException);
}

TEST_F(HttpManifestFetchTest, HttpOutcomesMapToManifestExceptions) {
  auto factory = Packages();
  try {
    factory.Create("missing");
    FAIL() << "no exception";
  } catch (const ManifestLocatorException& e) {
    EXPECT_STREQ(e.what(), "libcurl error 22 (HTTP 404)");
  }
  server_.SetBody("/manifests/busy/current.xml", "busy");
  server_.SetStatuses("/manifests/busy/current.xml", {503});
  EXPECT_THROW(factory.Create("busy"), ManifestStreamException);
  server_.SetBody("/manifests/empty/current.xml", "");
  EXPECT_THROW(factory.Create("empty"), ManifestParseException);
  server_.SetBody("/manifests/broken/current.xml", "<package id=\"pkg\"");
  EXPECT_THROW(factory.Create("broken"), ManifestParseException);
}

TEST_F(HttpManifestFetchTest, SlowServerTimesOutAsAStreamFailure) {
  server_.SetBody("/manifests/slow/current.xml", kPackage);
  server_.SetDelay("/manifests/slow/current.xml", 4000ms);
  auto factory = Packages(1);
  EXPECT_THROW(factory.Create("slow"), ManifestStreamException);
}

TEST_F(HttpManifestFetchTest, UnusableHostFailsBeforeAnyRequest) {
  XmlHttpPackageManifestFactory factory("127.0.0.1:notaport", &requests_);
  try {
    factory.Create("pkg");
    FAIL() << "no exception";
  } catch (const ManifestLocatorException& e) {
    EXPECT_STREQ(e.what(), "");
  }
}

TEST_F(HttpManifestFetchTest, RefusedConnectionIsAStreamFailure) {
  std::string host;
  {
    TestHttpServer closed;
    host = closed.Host();
  }
  XmlHttpPackageManifestFactory factory(host, &requests_, 2, 5);
  EXPECT_THROW(factory.Create("pkg"), ManifestStreamException);
}

TEST_F(HttpManifestFetchTest, OversizedDocumentIsRefused) {
  std::string big = "<package>";
  big += std::string(5000, ' ');
  big += "</package>";
  server_.SetBody("/doc.xml", big);
  XmlHttpManifestSource source("http://" + server_.Host() + "/doc.xml", &requests_, nullptr, 5, 10,
                               1024);
  StandardPackageManifest manifest;
  EXPECT_THROW(source.Read("", manifest), ManifestParseException);
  XmlHttpManifestSource roomy("http://" + server_.Host() + "/doc.xml", &requests_, nullptr, 5, 10,
                              8192);
  std::stringstream stream;
  roomy.Fetch("", stream);
  EXPECT_EQ(stream.str(), big);
}

TEST_F(HttpManifestFetchTest, NodeListIsFetchedFromThePartnerPath) {
  server_.SetBody(
      "/nodes/partner.xml",
      R"(<ArrayOfNodeInfo><NodeInfo NodeId="n" Host="h" Weight="3"/></ArrayOfNodeInfo>)");
  XmlHttpNodeListManifestFactory factory(server_.Host(), &requests_);
  const auto list = factory.Create("partner");
  ASSERT_EQ(list->GetNodes().size(), 1u);
  EXPECT_EQ(list->GetNodes()[0]->GetWeight(), 3);
  EXPECT_EQ(server_.RequestCount("/nodes/partner.xml"), 1);
  EXPECT_THROW(factory.Create("unknown"), ManifestLocatorException);
}

}  // namespace
}  // namespace velmo
