#pragma once

#include "velmo/transfer/TransferStatus.h"

namespace velmo {

// What the application hears about a watched transfer. Every call runs on the
// monitor's own thread. After OnReady, OnError or OnFinished the transfer is no
// longer watched; the application watches it again to hear more.
class TransferMonitorCallback {
 public:
  virtual ~TransferMonitorCallback() = default;
  // The transfer runs; called on every poll.
  virtual void OnProgress(const TransferStatus& status) = 0;
  // The transfer reached Initialized and waits to be started.
  virtual void OnReady(const TransferStatus& status) = 0;
  // The transfer stopped on an error (a retryable one when not final).
  virtual void OnError(const TransferStatus& status) = 0;
  // The snapshot is final: unknown id, suspended, completed, canceled or failed.
  virtual void OnFinished(const TransferStatus& status) = 0;
};

}  // namespace velmo
