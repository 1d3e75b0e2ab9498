#pragma once

#include "velmo/manifest/HttpManifestSource.h"

namespace velmo {

// An HTTP manifest source for XML documents: attributes read like child
// elements (see ReadXmlManifest); malformed XML is a ManifestParseException.
class XmlHttpManifestSource : public HttpManifestSource {
 public:
  using HttpManifestSource::HttpManifestSource;

  void Parse(std::istream& stream, boost::property_tree::ptree& tree) override;
  void ParseFor(std::istream& stream, boost::property_tree::ptree& tree,
                InputManifest& manifest) override;
};

}  // namespace velmo
