#pragma once

#include <string>
#include <vector>

#include "support/TestHttpServer.h"
#include "support/TestPackage.h"

namespace velmo::test {

// A test package served as a signed tree: the manifest gains a SHA-256 per
// chunk and an expiry time, the node list an expiry time, and each document
// its detached signature "<document>.sig" made with `privateKey`.
struct SignedTree {
  std::string privateKey;                        // raw 32 bytes
  std::string publicKey;                         // base64, as a .pub file holds it
  std::string expires = "2999-01-01T00:00:00Z";  // written on both root elements

  // A fresh key pair.
  static SignedTree Generate();

  std::string ManifestXml(const TestPackage& package) const;
  std::string NodeListXml(const std::vector<std::string>& hosts) const;
  // The text of "<document>.sig" for `document`.
  std::string Signature(const std::string& document) const;

  // Like TestPackage::Serve, with signed documents and their signatures.
  void Serve(const TestPackage& package, TestHttpServer& manifestHost,
             const std::vector<TestHttpServer*>& nodes) const;
};

// The package manifest with a sha256 attribute on every file element (64
// hexadecimal digits per chunk).
std::string WithStrongHashes(const TestPackage& package, const std::string& manifestXml);
// The document with expires="<expires>" on its root element.
std::string WithExpiry(const std::string& document, const std::string& root,
                       const std::string& expires);

}  // namespace velmo::test
