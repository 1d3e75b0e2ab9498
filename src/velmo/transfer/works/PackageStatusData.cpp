#include "velmo/transfer/works/PackageStatusData.h"

#include <boost/property_tree/ptree.hpp>

#include "velmo/manifest/NodeListManifest.h"
#include "velmo/manifest/PackageManifest.h"

namespace velmo {

void PackageStatusData::Describe(boost::property_tree::ptree& out) const {
  if (package_) {
    out.put("packageId", package_->GetId());
    out.put("partnerId", package_->GetPartnerId());
    out.put("versionId", package_->GetVersionId());
  } else {
    out.put("package", "null");
  }
}

void NodeListStatusData::Describe(boost::property_tree::ptree& out) const {
  if (nodeList_) {
    out.put("count", nodeList_->GetNodes().size());
  } else {
    out.put("nodes", "null");
  }
}

}  // namespace velmo
