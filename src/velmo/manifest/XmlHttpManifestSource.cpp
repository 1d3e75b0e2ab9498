#include "velmo/manifest/XmlHttpManifestSource.h"

#include "velmo/manifest/XmlManifestReader.h"

namespace velmo {

void XmlHttpManifestSource::Parse(std::istream& stream, boost::property_tree::ptree& tree) {
  ReadXmlManifest(stream, tree);
}

void XmlHttpManifestSource::ParseFor(std::istream& stream, boost::property_tree::ptree& tree,
                                     InputManifest& manifest) {
  XmlStreamedElements streamed{
      manifest.StreamedPath(),
      [&manifest](const boost::property_tree::ptree& element) { manifest.ParseStreamed(element); }};
  ReadXmlManifest(stream, tree, streamed.path.empty() ? nullptr : &streamed);
}

}  // namespace velmo
