#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "support/FailAtStep.h"
#include "velmo/file/SharedFile.h"
#include "velmo/file/SharedFileFactory.h"

namespace velmo::test {

// A SharedFileFactory around a real one that counts every operation of the
// file layer, its own (OpenFile, RemoveFile) and those of every file it hands
// out (positional and handle reads and writes, size, allocation, execute
// bits, sync, mapping), and fails the Nth the way the POSIX layer fails:
// operations that throw throw the FileException the real layer makes of a
// realistic errno (EIO for reads, ENOSPC for writes and allocation, EMFILE
// for opening), operations that report failure return false. Views made by
// Map are the real ones; only the Map call itself counts. IsExecutable only
// looks at a name and never fails, so it is neither counted nor failed.
//
// Only files `scope` accepts are counted (every file without one), so that a
// test can leave the work log out and keep the number of steps small.
// Make it with std::make_shared: the files it hands out keep it alive.
class FailingSharedFileFactory : public SharedFileFactory,
                                 public std::enable_shared_from_this<FailingSharedFileFactory> {
 public:
  using Scope = std::function<bool(const std::string& folder, const std::string& relativePath)>;

  FailingSharedFileFactory(SharedFileFactory& real, std::uint64_t failAt, Scope scope = nullptr);

  std::shared_ptr<SharedFile> OpenFile(const std::string& folder, const std::string& relativePath,
                                       FileOpenMode mode, std::uint64_t first,
                                       std::uint64_t last) override;
  bool RemoveFile(const std::string& folder, const std::string& relativePath) override;
  bool IsExecutable(const std::string& folder, const std::string& relativePath) override;
  std::optional<FileIdentity> PathIdentity(const std::string& folder,
                                           const std::string& relativePath) override {
    return real_.PathIdentity(folder, relativePath);
  }

  const FailAtStep& Steps() const { return steps_; }
  // What the injected failure was ("WriteAt data/a.bin"), empty before it.
  std::string InjectedOperation() const;

  // For the files handed out: counts one operation and says whether it fails.
  bool Fail(const char* operation, const std::string& path);

 private:
  bool InScope(const std::string& folder, const std::string& relativePath) const;

  SharedFileFactory& real_;
  FailAtStep steps_;
  const Scope scope_;
  mutable std::mutex mutex_;  // guards injected_
  std::string injected_;
};

}  // namespace velmo::test
