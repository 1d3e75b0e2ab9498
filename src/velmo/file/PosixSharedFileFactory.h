#pragma once

#include "velmo/file/SharedFileFactory.h"

namespace velmo {

// Opens PosixSharedFiles. Stateless; safe to call from any thread.
class PosixSharedFileFactory : public SharedFileFactory {
 public:
  std::shared_ptr<SharedFile> OpenFile(const std::string& folder, const std::string& relativePath,
                                       FileOpenMode mode, std::uint64_t first,
                                       std::uint64_t last) override;
  bool RemoveFile(const std::string& folder, const std::string& relativePath) override;
  std::optional<FileIdentity> PathIdentity(const std::string& folder,
                                           const std::string& relativePath) override;
  bool IsExecutable(const std::string& folder, const std::string& relativePath) override;
};

}  // namespace velmo
