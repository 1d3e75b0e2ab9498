#pragma once

#include <memory>
#include <string>

#include "velmo/transfer/TransferStatus.h"

namespace velmo {

class TransferWorkInterface;

// One download of one package into one folder. Every operation returns the
// snapshot right after it; an operation that does not apply in the current
// state changes nothing and returns the current snapshot. Callable from any
// thread; the transfer serializes its operations itself.
class Transfer {
 public:
  virtual ~Transfer() = default;
  virtual TransferStatus Initialize() = 0;
  virtual TransferStatus Start(const std::string& destinationFolder) = 0;
  virtual bool HasEnoughDiskSpace(const std::string& folder) = 0;
  virtual TransferStatus GetStatus() = 0;
  virtual TransferStatus Cancel(bool deleteFiles) = 0;
  virtual TransferStatus Pause() = 0;
  virtual TransferStatus Resume() = 0;
  virtual TransferStatus Retry() = 0;
  virtual TransferStatus Suspend() = 0;
  virtual TransferStatus Restore() = 0;
  virtual std::shared_ptr<TransferWorkInterface> GetWorkInterface() = 0;
  // A JSON array: one object per download node with its current statistics.
  virtual std::string GetNodeStatistics() = 0;
};

}  // namespace velmo
