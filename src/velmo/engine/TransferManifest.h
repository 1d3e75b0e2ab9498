#pragma once

#include "velmo/engine/TransferParams.h"
#include "velmo/manifest/InputManifest.h"
#include "velmo/manifest/OutputManifest.h"

namespace velmo {

// The stored form of a started transfer: its five identifiers, so that a later
// run can find the transfer again by id. `restored` is never stored.
class TransferManifest : public InputManifest, public OutputManifest {
 public:
  TransferManifest() = default;
  explicit TransferManifest(const TransferParams& transferParams) : params(transferParams) {}

  // Resets `params`, then reads the five identifiers from the top level of the
  // tree. Each must be present as a string (a member without children);
  // otherwise ManifestParseException. Other members are ignored.
  void Parse(const boost::property_tree::ptree& tree) override;
  // The five identifiers in their fixed order.
  void Write(boost::property_tree::ptree& tree) const override;

  TransferParams params;
};

}  // namespace velmo
