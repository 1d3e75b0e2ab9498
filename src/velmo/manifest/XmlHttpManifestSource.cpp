#include "velmo/manifest/XmlHttpManifestSource.h"

// Built once the HTTP client's headers are part of the tree.
#if __has_include("velmo/http/HttpRequestFactory.h")

#include "velmo/manifest/XmlManifestReader.h"

namespace velmo {

void XmlHttpManifestSource::Parse(std::istream& stream, boost::property_tree::ptree& tree) {
  ReadXmlManifest(stream, tree);
}

}  // namespace velmo

#endif
