#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "velmo/file/FileOpenMode.h"

namespace velmo {

class SharedFile;
struct FileIdentity;

// Opens, removes and classifies files below a folder. Relative paths come from
// servers and are refused when they would leave the folder.
class SharedFileFactory {
 public:
  virtual ~SharedFileFactory() = default;

  virtual std::shared_ptr<SharedFile> OpenFile(const std::string& folder,
                                               const std::string& relativePath, FileOpenMode mode,
                                               std::uint64_t first, std::uint64_t last) = 0;
  // True only when the file was deleted; never throws.
  virtual bool RemoveFile(const std::string& folder, const std::string& relativePath) = 0;
  // True when the path's extension names a program or script.
  virtual bool IsExecutable(const std::string& folder, const std::string& relativePath) = 0;
  // The regular file the path names now, not following a link at its end;
  // empty when it names nothing, or something else than a regular file.
  virtual std::optional<FileIdentity> PathIdentity(const std::string& folder,
                                                   const std::string& relativePath) = 0;
};

}  // namespace velmo
