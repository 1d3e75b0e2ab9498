// The node list reader: every node it keeps must give a request URL for any
// chunk, so one node can never fail the transfer when it is drawn.
#include <cstdint>
#include <memory>
#include <new>
#include <sstream>
#include <string>

#include "velmo/manifest/ManifestExceptions.h"
#include "velmo/manifest/StandardNodeListManifest.h"
#include "velmo/manifest/XmlManifestReader.h"
#include "velmo/optimizer/ChunkBounds.h"
#include "velmo/optimizer/OptimizedRequestParams.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string document(reinterpret_cast<const char*>(data), size);
  velmo::StandardNodeListManifest list;
  try {
    std::istringstream in(document);
    boost::property_tree::ptree tree;
    velmo::ReadXmlManifest(in, tree);
    list.Parse(tree);
  } catch (const velmo::ManifestException&) {
    return 0;
  } catch (const std::bad_alloc&) {
    return 0;
  }
  if (list.GetNodes().empty()) __builtin_trap();
  auto chunk = std::make_shared<velmo::ChunkBounds>();
  chunk->lowerBound = 0;
  chunk->upperBound = 99;
  for (const auto& node : list.GetNodes()) {
    if (node->GetWeight() < 0) __builtin_trap();
    velmo::OptimizedRequestParams params;
    params.transferParams.partnerId = "p";
    params.transferParams.packageId = "k";
    params.transferParams.versionId = "1";
    params.filePath = "bin/file";
    params.SelectedNode = node;
    params.ChunkData = chunk;
    try {
      params.ToUrl();
    } catch (...) {
      __builtin_trap();
    }
  }
  return 0;
}
