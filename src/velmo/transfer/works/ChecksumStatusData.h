#pragma once

#include <cstdint>
#include <memory>

#include "velmo/transfer/TransferStatusData.h"

namespace velmo {

class TransferSharedMapData;

// A chunk whose bytes did not match their CRC-32.
class ChecksumStatusData : public TransferStatusData {
 public:
  ChecksumStatusData(std::uint32_t actualChecksum, std::shared_ptr<TransferSharedMapData> chunk)
      : actualChecksum_(actualChecksum), chunk_(std::move(chunk)) {}

  TransferError ToTransferError() const override { return TransferError::ChecksumMismatch; }
  // "actualChecksum" in hexadecimal.
  void Describe(boost::property_tree::ptree& out) const override;
  // "error|6|<file size>|<lower bound>|<bytes written>|<last bytes>|<last
  // response code>|<bad nodes>|<last ip>|<expected hex>|<actual hex>".
  std::string GetMessage() const override;

 private:
  std::uint32_t actualChecksum_;
  std::shared_ptr<TransferSharedMapData> chunk_;
};

}  // namespace velmo
