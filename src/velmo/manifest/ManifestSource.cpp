#include "velmo/manifest/ManifestSource.h"

#include <sstream>

namespace velmo {

void ManifestSource::Read(const std::string& key, InputManifest& manifest) {
  std::stringstream stream;
  Fetch(key, stream);
  boost::property_tree::ptree tree;
  ParseFor(stream, tree, manifest);
  manifest.Parse(tree);
}

}  // namespace velmo
