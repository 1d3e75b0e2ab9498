#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "velmo/transfer/TransferStatusData.h"

namespace velmo {

class TransferSharedMapData;

// A chunk whose bytes did not match their CRC-32, or matched it but not
// their SHA-256 (bytes chosen to keep the CRC-32).
class ChecksumStatusData : public TransferStatusData {
 public:
  // The message is taken at once: the chunk's record changes with its next
  // attempt, while the payload may be read later on other threads.
  ChecksumStatusData(std::uint32_t actualChecksum, std::shared_ptr<TransferSharedMapData> chunk,
                     bool sha256Mismatch = false);

  TransferError ToTransferError() const override { return TransferError::ChecksumMismatch; }
  // "actualChecksum" in hexadecimal.
  void Describe(boost::property_tree::ptree& out) const override;
  // "error|6|<file size>|<lower bound>|<bytes written>|<last bytes>|<last
  // response code>|<bad nodes>|<last ip>|<expected hex>|<actual hex>".
  std::string GetMessage() const override { return message_; }
  // "<file> bytes <first>-<last> from <ip>: CRC-32 <actual>, expected <expected>",
  // or "...: SHA-256 mismatch (CRC-32 matches)".
  std::string GetCause() const override { return cause_; }

 private:
  std::uint32_t actualChecksum_;
  std::shared_ptr<TransferSharedMapData> chunk_;
  std::string message_;
  std::string cause_;
};

}  // namespace velmo
