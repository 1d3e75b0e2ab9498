// The package manifest reader: XML from the manifest host, read whole and with
// its files streamed as the engine reads it. Any document ends in a parsed
// manifest or a ManifestException, the same way both times; the depth the
// guard measured is never below the depth the XML reader builds.
#include <boost/property_tree/xml_parser.hpp>
#include <cstdint>
#include <new>
#include <sstream>
#include <string>

#include "velmo/manifest/ManifestExceptions.h"
#include "velmo/manifest/StandardPackageManifest.h"
#include "velmo/manifest/XmlManifestReader.h"

namespace {

using boost::property_tree::ptree;

std::size_t TreeDepth(const ptree& tree) {
  std::size_t deepest = 0;
  for (const auto& child : tree) {
    if (child.first == "<xmlattr>" || child.first == "<xmlcomment>") continue;
    const std::size_t depth = 1 + TreeDepth(child.second);
    if (depth > deepest) deepest = depth;
  }
  return deepest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string document(reinterpret_cast<const char*>(data), size);
  const std::size_t scanned = velmo::XmlElementDepth(document);
  if (scanned <= velmo::kMaxXmlManifestDepth) {
    // Safe to hand to the XML reader itself: compare what it builds.
    try {
      std::istringstream in(document);
      ptree raw;
      boost::property_tree::read_xml(in, raw);
      if (TreeDepth(raw) > scanned) __builtin_trap();
    } catch (const boost::property_tree::xml_parser_error&) {
    }
  }
  std::size_t streamedFiles = 0;
  bool streamedParsed = false;
  try {
    velmo::StandardPackageManifest manifest;
    const velmo::XmlStreamedElements files{
        manifest.StreamedPath(), [&](const ptree& file) { manifest.ParseStreamed(file); }};
    std::istringstream in(document);
    ptree tree;
    velmo::ReadXmlManifest(in, tree, &files);
    manifest.Parse(tree);
    streamedParsed = true;
    streamedFiles = manifest.GetFiles().size();
  } catch (const velmo::ManifestException&) {
  } catch (const std::bad_alloc&) {
    return 0;
  }
  try {
    std::istringstream in(document);
    ptree tree;
    velmo::ReadXmlManifest(in, tree);
    velmo::StandardPackageManifest manifest;
    manifest.Parse(tree);
    if (!streamedParsed || streamedFiles != manifest.GetFiles().size()) __builtin_trap();
    // A parsed manifest is one the transfer can use as it is.
    for (const auto& file : manifest.GetFiles()) {
      if (file->GetChunkCount() != file->GetChecksums().size()) __builtin_trap();
      const std::string& path = file->GetPath();
      if (path.empty() || path.front() == '/' || path.back() == '/') __builtin_trap();
    }
  } catch (const velmo::ManifestException&) {
    if (streamedParsed) __builtin_trap();
  } catch (const std::bad_alloc&) {
  }
  return 0;
}
