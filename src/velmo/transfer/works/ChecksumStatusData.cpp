#include "velmo/transfer/works/ChecksumStatusData.h"

#include <boost/property_tree/ptree.hpp>

#include "velmo/manifest/NodeManifest.h"
#include "velmo/transfer/works/TransferSharedMapData.h"

namespace velmo {

void ChecksumStatusData::Describe(boost::property_tree::ptree& out) const {
  out.put("actualChecksum", HexChecksum(actualChecksum_));
}

ChecksumStatusData::ChecksumStatusData(std::uint32_t actualChecksum,
                                       std::shared_ptr<TransferSharedMapData> chunk,
                                       bool sha256Mismatch)
    : actualChecksum_(actualChecksum), chunk_(std::move(chunk)) {
  const TransferSharedMapData& c = *chunk_;
  const auto s = [](auto value) { return std::to_string(value); };
  message_ = FormatErrorDiagnostic(
      ToTransferError(),
      {s(c.fileData->fileSize), s(c.lowerBound), s(c.position - c.lowerBound),
       s(c.lastStatus.bytes), s(c.lastStatus.responseCode), s(c.badNodeCount),
       c.lastStatus.primaryIp, HexChecksum(c.expectedChecksum), HexChecksum(actualChecksum_)});
  // The node as the node list names it, so whoever runs the mirrors can tell
  // which one to look at; the address alone is shared by nodes behind one
  // host or proxy.
  std::string from;
  if (c.lastNode)
    from = " from node " + c.lastNode->GetNodeId() + " (" + c.lastNode->GetHost() + ")";
  if (!c.lastStatus.primaryIp.empty()) {
    from += (from.empty() ? " from " : " at ") + c.lastStatus.primaryIp;
  }
  cause_ = c.fileData->filePath + " bytes " + s(c.lowerBound) + "-" + s(c.upperBound) + from +
           (sha256Mismatch ? std::string(": SHA-256 mismatch (CRC-32 matches)")
                           : ": CRC-32 " + HexChecksum(actualChecksum_) + ", expected " +
                                 HexChecksum(c.expectedChecksum));
}

}  // namespace velmo
