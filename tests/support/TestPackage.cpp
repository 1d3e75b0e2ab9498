#include "support/TestPackage.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "velmo/file/Sha256Hasher.h"
#include "velmo/manifest/StandardPackageManifest.h"
#include "velmo/manifest/XmlManifestReader.h"

namespace velmo::test {

void TestPackage::AddFile(const std::string& path, std::size_t size, unsigned seed) {
  std::string contents(size, '\0');
  std::uint32_t state = seed * 2654435761u + 1;
  for (std::size_t i = 0; i < size; ++i) {
    state = state * 1664525u + 1013904223u;
    contents[i] = static_cast<char>(state >> 24);
  }
  files[path] = std::move(contents);
}

std::uint64_t TestPackage::TotalSize() const {
  std::uint64_t total = 0;
  for (const auto& [path, contents] : files) total += contents.size();
  return total;
}

std::string TestPackage::ManifestXml() const {
  std::ostringstream xml;
  xml << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<package>\n"
      << "  <id>" << packageId << "</id>\n  <name>" << name << "</name>\n"
      << "  <partnerId>" << partnerId << "</partnerId>\n  <versionId>" << versionId
      << "</versionId>\n";
  if (!run.empty()) xml << "  <run>" << run << "</run>\n";
  xml << "  <files>\n";
  for (const auto& [path, contents] : files) {
    xml << "    <file";
    if (strongHashes) {
      xml << " sha256=\"";
      for (std::size_t offset = 0; offset < contents.size(); offset += chunkSize) {
        const std::size_t length = std::min<std::size_t>(chunkSize, contents.size() - offset);
        xml << Sha256Hex(Sha256Of(contents.data() + offset, length));
      }
      xml << '"';
    }
    xml << ">\n      <path>" << path << "</path>\n      <chunksize>" << chunkSize
        << "</chunksize>\n      <size>" << contents.size() << "</size>\n      <checksums>";
    for (std::size_t offset = 0; offset < contents.size(); offset += chunkSize) {
      const std::size_t length = std::min<std::size_t>(chunkSize, contents.size() - offset);
      char hex[9];
      std::snprintf(hex, sizeof hex, "%08x",
                    static_cast<unsigned>(libdeflate_crc32(0, contents.data() + offset, length)));
      xml << hex;
    }
    xml << "</checksums>\n    </file>\n";
  }
  xml << "  </files>\n</package>\n";
  return xml.str();
}

std::shared_ptr<const PackageManifest> TestPackage::Manifest() const {
  std::istringstream xml(ManifestXml());
  boost::property_tree::ptree tree;
  ReadXmlManifest(xml, tree);
  auto manifest = std::make_shared<StandardPackageManifest>();
  manifest->Parse(tree);
  return manifest;
}

std::string TestPackage::NodePath(const std::string& file) const {
  return "/packages/" + partnerId + "/" + packageId + "/" + versionId + "/" + file;
}

std::uint64_t TestPackage::BytesServedBy(const TestHttpServer& node) const {
  std::uint64_t total = 0;
  for (const auto& [path, contents] : files) total += node.BytesServed(NodePath(path));
  return total;
}

std::string NodeListXml(const std::vector<std::string>& hosts) {
  std::ostringstream xml;
  xml << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<ArrayOfNodeInfo>\n";
  for (std::size_t i = 0; i < hosts.size(); ++i) {
    xml << "  <NodeInfo>\n    <NodeId>n" << i + 1 << "</NodeId>\n    <Host>" << hosts[i]
        << "</Host>\n    <Path>/packages/</Path>\n    <Weight>1</Weight>\n  </NodeInfo>\n";
  }
  xml << "</ArrayOfNodeInfo>\n";
  return xml.str();
}

void TestPackage::Serve(TestHttpServer& manifestHost,
                        const std::vector<TestHttpServer*>& nodes) const {
  const std::string manifest = ManifestXml();
  manifestHost.SetBody("/manifests/" + packageId + "/current.xml", manifest);
  manifestHost.SetBody("/manifests/" + packageId + "/" + versionId + ".xml", manifest);
  std::vector<std::string> hosts;
  for (TestHttpServer* node : nodes) {
    hosts.push_back(node->Host());
    for (const auto& [path, contents] : files) node->SetBody(NodePath(path), contents);
  }
  manifestHost.SetBody("/nodes/" + partnerId + ".xml", NodeListXml(hosts));
}

}  // namespace velmo::test
