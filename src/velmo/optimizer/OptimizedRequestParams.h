#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "velmo/engine/TransferParams.h"
#include "velmo/http/HttpRequestParams.h"
#include "velmo/manifest/NodeListManifest.h"
#include "velmo/manifest/NodeManifest.h"
#include "velmo/optimizer/ChunkBounds.h"

namespace velmo {

// What one chunk request needs to know about where it goes and how long it
// may take. The chunk request work owns one and keeps it across its retries;
// the optimizer's GetNode fills SelectedNode and the fields after it.
struct OptimizedRequestParams {
  // The transfer's node list.
  std::shared_ptr<NodeListManifest> nodeList;
  // Nodes not yet tried in the current rotation, in list order.
  std::vector<std::shared_ptr<NodeManifest>> candidates;
  // The transfer's identifiers, which name the package's folder on a node.
  TransferParams transferParams;
  // The chunk's file, relative to the package's folder.
  std::string filePath;
  // The chunk being requested; its bounds size the time limits.
  std::shared_ptr<ChunkBounds> ChunkData;
  // The node chosen for the next request; empty until one is chosen.
  std::shared_ptr<NodeManifest> SelectedNode;
  // A retry after this request does not use up the retry budget.
  bool freeRetry = false;
  // The adaptive limits were below their caps when the node was chosen.
  bool limitsCanGrow = false;
  // The node was chosen to explore it (too few speed samples).
  bool exploring = false;
  // The optimizer's name for the request GetNode chose a node for: it counts
  // the request against the node while it runs (0: none yet). Each GetNode
  // sets a new one; ReportResult or ReleaseNode ends the count.
  std::uint64_t lease = 0;
  // Copied into the HTTP request under the same names (seconds, bytes per
  // second, seconds).
  std::int32_t connectTimeout = 0;
  std::int32_t timeout = 0;
  std::int32_t lowSpeedLimit = 0;
  std::int32_t lowSpeedTime = 0;

  // http://<node host><node path><partner>/<package>/<version>/<file path>,
  // each part resolved as a relative reference (RFC 3986). Throws
  // std::invalid_argument before a node is chosen or without a chunk.
  std::string ToUrl() const;
  // A range GET of exactly the chunk into `writer`, with the chosen limits.
  HttpRequestParams ToRequestParams(HttpWriteCallback* writer) const;
  // Takes the selected node out of this rotation; an exhausted rotation
  // starts again with every node.
  void DropSelectedNode();
};

}  // namespace velmo
