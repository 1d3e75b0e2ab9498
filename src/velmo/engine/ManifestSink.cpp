#include "velmo/engine/ManifestSink.h"

#include <sstream>

namespace velmo {

void ManifestSink::Write(const std::string& key, const OutputManifest& manifest) {
  boost::property_tree::ptree tree;
  manifest.Write(tree);
  std::stringstream stream;
  Serialize(tree, stream);
  Put(stream, key);
}

}  // namespace velmo
