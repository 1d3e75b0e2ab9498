#include "velmo/engine/TransferParams.h"

#include "velmo/engine/UnspecifiedVersion.h"

namespace velmo {

TransferParams::TransferParams()
    : transferId(UnspecifiedVersion),
      partnerId(UnspecifiedVersion),
      packageId(UnspecifiedVersion),
      versionId(UnspecifiedVersion),
      destPath(UnspecifiedVersion) {}

void TransferParams::Describe(boost::property_tree::ptree& out) const {
  out.put("transferId", transferId);
  out.put("partnerId", partnerId);
  out.put("packageId", packageId);
  out.put("versionId", versionId);
  out.put("destPath", destPath);
}

}  // namespace velmo
