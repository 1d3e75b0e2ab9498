#include <gtest/gtest.h>

#include "velmo/manifest/ManifestExceptions.h"
#include "velmo/manifest/ManifestLocations.h"
#include "velmo/manifest/PackageKey.h"

namespace velmo {
namespace {

TEST(ManifestLocationsTest, PathFormsDependOnVersionInKey) {
  EXPECT_EQ(PackageManifestPath("alpha"), "/manifests/alpha/current.xml");
  EXPECT_EQ(PackageManifestPath("alpha/beta"), "/manifests/alpha/beta.xml");
  EXPECT_EQ(PackageManifestPath("alpha/beta/gamma"), "/manifests/alpha/beta/gamma.xml");
  EXPECT_EQ(NodeListPath("gamma"), "/nodes/gamma.xml");
}

TEST(ManifestLocationsTest, UrlsJoinSchemeHostAndPath) {
  EXPECT_EQ(PackageManifestUrl("manifests.example", "alpha"),
            "http://manifests.example/manifests/alpha/current.xml");
  EXPECT_EQ(PackageManifestUrl("manifests.example:8080", "alpha/beta"),
            "http://manifests.example:8080/manifests/alpha/beta.xml");
  EXPECT_EQ(NodeListUrl("127.0.0.1:1", "gamma"), "http://127.0.0.1:1/nodes/gamma.xml");
  EXPECT_EQ(NodeListUrl("[::1]:65535", "g"), "http://[::1]:65535/nodes/g.xml");
}

TEST(ManifestLocationsTest, AHostMayNameItsScheme) {
  EXPECT_EQ(PackageManifestUrl("https://manifests.example", "alpha"),
            "https://manifests.example/manifests/alpha/current.xml");
  EXPECT_EQ(NodeListUrl("HTTPS://Manifests.Example:8443/", "g"),
            "https://manifests.example:8443/nodes/g.xml");
  EXPECT_EQ(NodeListUrl("https://h:443", "g"), "https://h/nodes/g.xml");
  EXPECT_EQ(NodeListUrl("http://h:80", "g"), "http://h/nodes/g.xml");
  EXPECT_EQ(NodeListUrl("https://[::1]:8443", "g"), "https://[::1]:8443/nodes/g.xml");
  const HostAddress plain = SplitHostScheme("h:81");
  EXPECT_EQ(plain.scheme, "http");
  EXPECT_EQ(plain.authority, "h:81");
  const HostAddress tls = SplitHostScheme("Https://h:81");
  EXPECT_EQ(tls.scheme, "https");
  EXPECT_EQ(tls.authority, "h:81");
  // Other schemes, and anything after the authority, are no host.
  for (const char* host : {"ftp://h", "https://", "https://h/x", "https://h//", "https:/h"}) {
    SCOPED_TRACE(host);
    EXPECT_THROW(NodeListUrl(host, "g"), ManifestLocatorException);
  }
}

TEST(ManifestLocationsTest, KeysArePercentEncodedExactly) {
  EXPECT_EQ(PackageManifestUrl("h", "alpha beta?"),
            "http://h/manifests/alpha%20beta%3F/current.xml");
  // Each of the escaped ASCII characters, then characters that stay as they are.
  EXPECT_EQ(EncodeManifestPath("%<>{}|\\\"^`?#"), "%25%3C%3E%7B%7D%7C%5C%22%5E%60%3F%23");
  EXPECT_EQ(EncodeManifestPath("/a-z_A.Z~0!$&'()*+,;=:@[]"), "/a-z_A.Z~0!$&'()*+,;=:@[]");
  // Control bytes, DEL and every byte of a UTF-8 sequence, uppercase hex.
  EXPECT_EQ(EncodeManifestPath(std::string("\x01\x1f\x7f", 3)), "%01%1F%7F");
  EXPECT_EQ(EncodeManifestPath("\xc3\xa9"), "%C3%A9");
  EXPECT_EQ(EncodeManifestPath(std::string(1, '\0')), "%00");
}

TEST(ManifestLocationsTest, PercentSequencesInKeysAreNotDecoded) {
  EXPECT_EQ(PackageManifestUrl("h", "a%41"), "http://h/manifests/a%2541/current.xml");
}

TEST(ManifestLocationsTest, UnusableHostsAreLocatorFailures) {
  for (const char* host : {"", "host:abc", "host:0", "host:65536", "host:", "host:+5", "host:-1",
                           "ho st", "host/path", "host?q", "user@host", "[::1"}) {
    SCOPED_TRACE(host);
    try {
      PackageManifestUrl(host, "alpha");
      ADD_FAILURE() << "no exception";
    } catch (const ManifestLocatorException& e) {
      EXPECT_STREQ(e.what(), "");
    }
  }
}

TEST(PackageKeyTest, MakeAndSplit) {
  EXPECT_EQ(MakePackageKey("p", ""), "p");
  EXPECT_EQ(MakePackageKey("p", "v"), "p/v");
  EXPECT_EQ(SplitPackageKey("p"), std::make_pair(std::string("p"), std::string()));
  EXPECT_EQ(SplitPackageKey("p/v/w"), std::make_pair(std::string("p"), std::string("v/w")));
  EXPECT_EQ(SplitPackageKey("p/"), std::make_pair(std::string("p"), std::string()));
  EXPECT_EQ(SplitPackageKey(MakePackageKey("p", "1/2")).second, "1/2");
}

}  // namespace
}  // namespace velmo
