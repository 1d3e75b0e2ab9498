#pragma once

#include <boost/property_tree/ptree.hpp>
#include <iosfwd>
#include <string>

#include "velmo/manifest/OutputManifest.h"

namespace velmo {

// Where a manifest document goes and how a property tree becomes its bytes:
// the writing counterpart of ManifestSource.
class ManifestSink {
 public:
  virtual ~ManifestSink() = default;

  // Turns a property tree into document text appended to `stream`.
  virtual void Serialize(const boost::property_tree::ptree& tree, std::ostream& stream) = 0;
  // Stores the document text held in `stream` under `key`.
  virtual void Put(std::istream& stream, const std::string& key) = 0;

  // The manifest's Write, Serialize, then Put. Exceptions of every step pass
  // through unchanged.
  void Write(const std::string& key, const OutputManifest& manifest);
};

}  // namespace velmo
