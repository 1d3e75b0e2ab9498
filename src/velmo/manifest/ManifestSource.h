#pragma once

#include <boost/property_tree/ptree.hpp>
#include <istream>
#include <ostream>
#include <string>

#include "velmo/manifest/InputManifest.h"

namespace velmo {

// Where a manifest document comes from and how its bytes become a property
// tree. A source is made for one read and used by one thread.
class ManifestSource {
 public:
  virtual ~ManifestSource() = default;

  // Writes the raw document named by key into the stream.
  virtual void Fetch(const std::string& key, std::ostream& stream) = 0;

  // Turns the raw document into a property tree.
  virtual void Parse(std::istream& stream, boost::property_tree::ptree& tree) = 0;

  // Parse for `manifest`: where the format allows, the elements it streams
  // (InputManifest::StreamedPath) go to its ParseStreamed as they are read
  // and stay out of `tree`. By default the whole tree.
  virtual void ParseFor(std::istream& stream, boost::property_tree::ptree& tree,
                        InputManifest& /*manifest*/) {
    Parse(stream, tree);
  }

  // Fetch, ParseFor, then the manifest's own Parse. Exceptions of every step pass
  // through unchanged.
  void Read(const std::string& key, InputManifest& manifest);
};

}  // namespace velmo
