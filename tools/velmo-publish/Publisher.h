#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "Signing.h"
#include "velmo/file/Sha256Hasher.h"

namespace velmo::publish {

// A refusal or failure of the publisher; the message names the file and the
// reason, ready to print.
class PublishError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct PackageOptions {
  std::string partnerId;
  std::string packageId;
  std::string versionId;
  std::string name;
  std::string run;  // empty: the package names no program to start
  std::uint32_t chunkSize = 1024 * 1024;
  bool updateCurrent = true;  // also write manifests/<package>/current.xml
  std::string tree;           // output tree (manifest host and node roots)
  std::string source;         // folder whose regular files form the package
  SignOptions sign;           // sign the manifests (current.xml.sig, <version>.xml.sig)
};

struct PublishedFile {
  std::string path;  // relative, '/'-separated
  std::uint64_t size = 0;
  std::vector<std::uint32_t> checksums;
  std::vector<velmo::Sha256Digest> sha256s;  // one per chunk, like checksums
};

struct PublishedPackage {
  std::vector<PublishedFile> files;  // sorted by path, byte-wise
  std::string manifestPath;          // manifests/<package>/<version>.xml below the tree
  std::uint64_t linkedFiles = 0;     // placed by hard link
  std::uint64_t copiedFiles = 0;     // placed by copy (other file system)
};

struct NodeSpec {
  std::string nodeId;
  std::string host;  // host[:port]
  std::string path = "/packages/";
  std::int32_t weight = 1;
};

// Parses "ID=HOST[:PORT][,path=/p/][,weight=N]".
NodeSpec ParseNodeSpec(const std::string& text);

// Scans the source, computes one CRC-32 and one SHA-256 per chunk, places the files below
// packages/<partner>/<package>/<version>/ and writes the manifest documents,
// each atomically. A version is immutable: publishing it again with other
// content is refused.
PublishedPackage PublishPackage(const PackageOptions& options);

// Writes nodes/<partner>.xml atomically (and, signing, nodes/<partner>.xml.sig);
// returns its path below the tree.
std::string PublishNodes(const std::string& tree, const std::string& partnerId,
                         const std::vector<NodeSpec>& nodes, const SignOptions& sign = {});

// Writes `content` to a temporary file beside `path` and renames it into place.
void WriteAtomically(const std::filesystem::path& path, const std::string& content);

// The manifest document for `files` (exposed for tests).
std::string PackageManifestXml(const PackageOptions& options,
                               const std::vector<PublishedFile>& files);

}  // namespace velmo::publish
