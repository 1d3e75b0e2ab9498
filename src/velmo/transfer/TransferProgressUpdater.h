#pragma once

#include <cstdint>

namespace velmo {

// Where works report the bytes they move. Called from many work-manager
// threads at once; implementations count atomically.
class TransferProgressUpdater {
 public:
  virtual ~TransferProgressUpdater() = default;
  // Bytes counted as done (rolled back with RemoveProgress when a chunk fails).
  virtual void AddProgress(const std::uint64_t& bytes) = 0;
  virtual void RemoveProgress(const std::uint64_t& bytes) = 0;
  // Bytes of chunks whose checksum matched.
  virtual void AddVerified(const std::uint64_t& bytes) = 0;
  // Body bytes received from the network.
  virtual void AddDownloaded(const std::uint64_t& bytes) = 0;
};

}  // namespace velmo
