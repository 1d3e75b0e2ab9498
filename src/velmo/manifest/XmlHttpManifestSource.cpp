#include "velmo/manifest/XmlHttpManifestSource.h"

#include "velmo/manifest/XmlManifestReader.h"

namespace velmo {

void XmlHttpManifestSource::Parse(std::istream& stream, boost::property_tree::ptree& tree) {
  ReadXmlManifest(stream, tree);
}

}  // namespace velmo
