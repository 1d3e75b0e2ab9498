#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "velmo/manifest/InputManifest.h"
#include "velmo/manifest/OutputManifest.h"

namespace velmo {

class NodeStatistics;

// One download node: an HTTP server (host, optionally with a port) that serves
// the package files under a path prefix, with a relative weight and the
// counters of the requests made to it. After parsing only the weight (reset by
// the list parser) and the statistics (updated lock-free by chunk requests)
// change.
class NodeManifest : public InputManifest,
                     public OutputManifest,
                     public std::enable_shared_from_this<NodeManifest> {
 public:
  ~NodeManifest() override = default;
  void Parse(const boost::property_tree::ptree& tree) override = 0;
  virtual std::string GetNodeId() const = 0;
  virtual std::string GetHost() const = 0;
  // Always begins and ends with "/".
  virtual std::string GetPath() const = 0;
  virtual std::int32_t GetWeight() const = 0;
  // Sets the weight to 1.
  virtual void ResetWeight() = 0;
  virtual std::shared_ptr<NodeStatistics> GetStatistics() const = 0;
  // A new node with the same id, host, path and weight and the given
  // statistics; this node is left as it is, since it may be shared.
  virtual std::shared_ptr<NodeManifest> WithStatistics(
      std::shared_ptr<NodeStatistics> statistics) const = 0;
};

}  // namespace velmo
