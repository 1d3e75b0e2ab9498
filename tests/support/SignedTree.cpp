#include "support/SignedTree.h"

#include <openssl/sha.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "velmo/manifest/Base64.h"
#include "velmo/manifest/Ed25519.h"

namespace velmo::test {

SignedTree SignedTree::Generate() {
  const Ed25519KeyPair pair = GenerateEd25519KeyPair();
  SignedTree tree;
  tree.privateKey = pair.privateKey;
  tree.publicKey = EncodeBase64(pair.publicKey);
  return tree;
}

std::string SignedTree::ManifestXml(const TestPackage& package) const {
  return WithExpiry(WithStrongHashes(package, package.ManifestXml()), "package", expires);
}

std::string SignedTree::NodeListXml(const std::vector<std::string>& hosts) const {
  return WithExpiry(test::NodeListXml(hosts), "ArrayOfNodeInfo", expires);
}

std::string SignedTree::Signature(const std::string& document) const {
  return EncodeBase64(SignEd25519(privateKey, document)) + "\n";
}

void SignedTree::Serve(const TestPackage& package, TestHttpServer& manifestHost,
                       const std::vector<TestHttpServer*>& nodes) const {
  package.Serve(manifestHost, nodes);
  const std::string manifest = ManifestXml(package);
  for (const std::string& name : {std::string("current"), package.versionId}) {
    const std::string path = "/manifests/" + package.packageId + "/" + name + ".xml";
    manifestHost.SetBody(path, manifest);
    manifestHost.SetBody(path + ".sig", Signature(manifest));
  }
  std::vector<std::string> hosts;
  for (TestHttpServer* node : nodes) hosts.push_back(node->Host());
  const std::string nodeList = NodeListXml(hosts);
  const std::string path = "/nodes/" + package.partnerId + ".xml";
  manifestHost.SetBody(path, nodeList);
  manifestHost.SetBody(path + ".sig", Signature(nodeList));
}

std::string WithStrongHashes(const TestPackage& package, const std::string& manifestXml) {
  std::string out;
  std::size_t from = 0;
  // The manifest lists the files in the map's order.
  for (const auto& [path, contents] : package.files) {
    const std::size_t at = manifestXml.find("<file>", from);
    if (at == std::string::npos) throw std::logic_error("manifest lists fewer files");
    std::string hashes;
    for (std::size_t offset = 0; offset < contents.size(); offset += package.chunkSize) {
      const std::size_t length = std::min<std::size_t>(package.chunkSize, contents.size() - offset);
      unsigned char digest[SHA256_DIGEST_LENGTH];
      SHA256(reinterpret_cast<const unsigned char*>(contents.data()) + offset, length, digest);
      for (unsigned char byte : digest) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", byte);
        hashes += hex;
      }
    }
    out += manifestXml.substr(from, at - from) + "<file sha256=\"" + hashes + "\">";
    from = at + 6;
  }
  return out + manifestXml.substr(from);
}

std::string WithExpiry(const std::string& document, const std::string& root,
                       const std::string& expires) {
  const std::string open = "<" + root + ">";
  const std::size_t at = document.find(open);
  if (at == std::string::npos) throw std::logic_error("no root element " + root);
  return document.substr(0, at) + "<" + root + " expires=\"" + expires + "\">" +
         document.substr(at + open.size());
}

}  // namespace velmo::test
