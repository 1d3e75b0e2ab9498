#include "velmo/optimizer/OptimizedRequestParams.h"

#include <algorithm>
#include <stdexcept>

#include "velmo/manifest/ManifestLocations.h"

namespace velmo {
std::string OptimizedRequestParams::ToUrl() const {
  if (!SelectedNode || !ChunkData) {
    throw std::invalid_argument(
        "OptimizedRequestParams::ToUrl invoked with no SelectedNode or no ChunkData");
  }
  // A node's host may name its scheme ("https://host:port"); without one the
  // node speaks plain HTTP, as every node list before TLS did.
  std::string file = filePath;
  file.erase(0, file.find_first_not_of('/'));
  return ComposeNodeFileUrl(SelectedNode->GetHost(), SelectedNode->GetPath(),
                            {transferParams.partnerId + "/", transferParams.packageId + "/",
                             transferParams.versionId + "/", file});
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
