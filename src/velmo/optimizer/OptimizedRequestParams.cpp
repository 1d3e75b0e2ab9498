#include "velmo/optimizer/OptimizedRequestParams.h"

#include <Poco/URI.h>

#include <algorithm>
#include <stdexcept>

#include "velmo/manifest/ManifestLocations.h"

namespace velmo {
namespace {

// One part of the path as a relative reference. "./" keeps a part whose first
// segment holds a ':' from reading as a scheme, and '?', '#' and '%' are
// encoded so that they stay part of the path instead of starting a query or
// a fragment or being read as an escape.
std::string RelativeReference(const std::string& part) {
  std::string encoded;
  Poco::URI::encode(part, "?#%", encoded);
  return "./" + encoded;
}

}  // namespace

std::string OptimizedRequestParams::ToUrl() const {
  if (!SelectedNode || !ChunkData) {
    throw std::invalid_argument(
        "OptimizedRequestParams::ToUrl invoked with no SelectedNode or no ChunkData");
  }
  // A node's host may name its scheme ("https://host:port"); without one the
  // node speaks plain HTTP, as every node list before TLS did.
  const HostAddress address = SplitHostScheme(SelectedNode->GetHost());
  Poco::URI uri(address.scheme, address.authority, SelectedNode->GetPath());
  uri.resolve(RelativeReference(transferParams.partnerId + "/"));
  uri.resolve(RelativeReference(transferParams.packageId + "/"));
  uri.resolve(RelativeReference(transferParams.versionId + "/"));
  std::string file = filePath;
  file.erase(0, file.find_first_not_of('/'));
  uri.resolve(RelativeReference(file));
  return uri.toString();
}

HttpRequestParams OptimizedRequestParams::ToRequestParams(HttpWriteCallback* writer) const {
  HttpRequestParams params(ToUrl(), writer);
  params.rangeStart = ChunkData->lowerBound;
  params.rangeEnd = ChunkData->upperBound;
  params.connectTimeout = connectTimeout;
  params.timeout = timeout;
  params.lowSpeedLimit = lowSpeedLimit;
  params.lowSpeedTime = lowSpeedTime;
  return params;
}

void OptimizedRequestParams::DropSelectedNode() {
  candidates.erase(std::remove(candidates.begin(), candidates.end(), SelectedNode),
                   candidates.end());
  if (candidates.empty() && nodeList) candidates = nodeList->GetNodes();
}

}  // namespace velmo
