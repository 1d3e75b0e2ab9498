#include "support/FailingSharedFileFactory.h"

#include <cerrno>
#include <utility>

#include "velmo/file/FileException.h"
#include "velmo/file/SharedFile.h"

namespace velmo::test {
namespace {

// A real file whose every operation first asks the factory whether it is the
// one to fail.
class FailingSharedFile : public SharedFile {
 public:
  FailingSharedFile(std::shared_ptr<SharedFile> real,
                    std::shared_ptr<FailingSharedFileFactory> factory, std::string path)
      : SharedFile(real->LowerBound(), real->UpperBound()),
        real_(std::move(real)),
        factory_(std::move(factory)),
        path_(std::move(path)) {}

  std::uint64_t GetPosition() override {
    if (Fail("GetPosition")) ThrowFileError(EIO);
    return real_->GetPosition();
  }
  void SetPosition(std::uint64_t offset) override {
    if (Fail("SetPosition")) ThrowFileError(EIO);
    real_->SetPosition(offset);
  }
  std::uint32_t Read(void* buffer, std::uint32_t count) override {
    if (Fail("Read")) ThrowFileError(EIO);
    return real_->Read(buffer, count);
  }
  std::uint32_t Write(const void* buffer, std::uint32_t count) override {
    if (Fail("Write")) ThrowFileError(ENOSPC);
    return real_->Write(buffer, count);
  }
  std::uint64_t GetSize() override {
    if (Fail("GetSize")) ThrowFileError(EIO);
    return real_->GetSize();
  }
  bool Allocate(std::uint64_t size) override {
    if (Fail("Allocate")) ThrowFileError(ENOSPC);
    return real_->Allocate(size);
  }
  bool Resize(std::uint64_t size) override {
    if (Fail("Resize")) ThrowFileError(ENOSPC);
    return real_->Resize(size);
  }
  bool AllowExecute() override { return !Fail("AllowExecute") && real_->AllowExecute(); }
  bool DenyExecute() override { return !Fail("DenyExecute") && real_->DenyExecute(); }
  void WriteAt(std::uint64_t offset, const void* data, std::size_t size) override {
    if (Fail("WriteAt")) ThrowFileError(ENOSPC);
    real_->WriteAt(offset, data, size);
  }
  std::size_t ReadAt(std::uint64_t offset, void* data, std::size_t size) override {
    if (Fail("ReadAt")) ThrowFileError(EIO);
    return real_->ReadAt(offset, data, size);
  }
  std::optional<FileIdentity> Identity() override { return real_->Identity(); }
  bool Sync() override { return !Fail("Sync") && real_->Sync(); }
  std::shared_ptr<MemoryMappedFileData> Map() override {
    if (Fail("Map")) throw FileInvalidMapException(ENOMEM);
    return real_->Map();
  }
  std::shared_ptr<MemoryMappedFileData> Map(std::uint64_t first, std::uint64_t last) override {
    if (Fail("Map")) throw FileInvalidMapException(ENOMEM);
    return real_->Map(first, last);
  }

 private:
  bool Fail(const char* operation) { return factory_->Fail(operation, path_); }

  std::shared_ptr<SharedFile> real_;
  std::shared_ptr<FailingSharedFileFactory> factory_;
  std::string path_;
};

}  // namespace

FailingSharedFileFactory::FailingSharedFileFactory(SharedFileFactory& real, std::uint64_t failAt,
                                                   Scope scope)
    : real_(real), steps_(failAt), scope_(std::move(scope)) {}

std::shared_ptr<SharedFile> FailingSharedFileFactory::OpenFile(const std::string& folder,
                                                               const std::string& relativePath,
                                                               FileOpenMode mode,
                                                               std::uint64_t first,
                                                               std::uint64_t last) {
  if (!InScope(folder, relativePath))
    return real_.OpenFile(folder, relativePath, mode, first, last);
  // The process has run out of descriptors: the open fails, nothing is made.
  if (Fail("OpenFile", relativePath)) ThrowFileError(EMFILE);
  return std::make_shared<FailingSharedFile>(
      real_.OpenFile(folder, relativePath, mode, first, last), shared_from_this(), relativePath);
}

bool FailingSharedFileFactory::RemoveFile(const std::string& folder,
                                          const std::string& relativePath) {
  if (InScope(folder, relativePath) && Fail("RemoveFile", relativePath)) return false;
  return real_.RemoveFile(folder, relativePath);
}

bool FailingSharedFileFactory::IsExecutable(const std::string& folder,
                                            const std::string& relativePath) {
  return real_.IsExecutable(folder, relativePath);
}

bool FailingSharedFileFactory::Fail(const char* operation, const std::string& path) {
  if (!steps_.Next()) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  injected_ = std::string(operation) + " " + path;
  return true;
}

std::string FailingSharedFileFactory::InjectedOperation() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return injected_;
}

bool FailingSharedFileFactory::InScope(const std::string& folder,
                                       const std::string& relativePath) const {
  return !scope_ || scope_(folder, relativePath);
}

}  // namespace velmo::test
