#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/TestHttpServer.h"

namespace velmo {
class PackageManifest;
}

namespace velmo::test {

// A package for engine tests: files with generated contents, the manifest and
// node-list documents the engine reads, and the serving of both on test
// servers laid out as a published tree (manifest host plus download nodes).
struct TestPackage {
  std::string partnerId = "partner";
  std::string packageId = "pkg";
  std::string versionId = "1.0";
  std::string name = "Test package";
  std::string run;  // relative path of the program, empty for none
  std::uint32_t chunkSize = 4096;
  bool strongHashes = false;                 // the manifest pins each chunk by SHA-256 too
  std::map<std::string, std::string> files;  // relative path -> contents

  // Adds a file of `size` bytes whose contents depend on `seed`.
  void AddFile(const std::string& path, std::size_t size, unsigned seed = 1);

  std::string ManifestXml() const;
  // ManifestXml as the engine reads it.
  std::shared_ptr<const PackageManifest> Manifest() const;
  std::uint64_t TotalSize() const;

  // The package manifest (current and versioned) on `manifestHost`, the node
  // list naming every server of `nodes` with weight 1, and the files on each
  // node at /packages/<partner>/<package>/<version>/<path>.
  void Serve(TestHttpServer& manifestHost, const std::vector<TestHttpServer*>& nodes) const;
  // The path of a file below a node.
  std::string NodePath(const std::string& file) const;
  // The bytes of the package's files that `node` has served so far.
  std::uint64_t BytesServedBy(const TestHttpServer& node) const;
};

// The node-list document for the given hosts (host:port), ids n1, n2, ...
std::string NodeListXml(const std::vector<std::string>& hosts);

}  // namespace velmo::test
