#pragma once

#include <cstdint>
#include <string>

#include "velmo/work/WorkDescriptor.h"

namespace velmo {

// The identifiers of one transfer: what is downloaded and where to. A value;
// a transfer changes its parameters only under its own lock, and readers on
// other threads take copies.
class TransferParams : public WorkDescriptor {
 public:
  TransferParams();

  // Writes transferId, partnerId, packageId, versionId and destPath, in this
  // order; `restored` is internal and never written.
  void Describe(boost::property_tree::ptree& out) const override;

  std::string transferId;
  std::string partnerId;
  std::string packageId;
  std::string versionId;      // UnspecifiedVersion asks for the current version
  std::string destPath;       // set when the transfer is started
  std::int32_t restored = 0;  // 1 once restored from storage or suspended
};

}  // namespace velmo
