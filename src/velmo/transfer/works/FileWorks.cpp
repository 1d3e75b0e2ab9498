// The works between the package and its chunks: clusters of files, one file's
// sequence, and opening, allocating and closing a destination file.
#include <algorithm>
#include <stdexcept>

#include "velmo/file/FileException.h"
#include "velmo/file/SharedFile.h"
#include "velmo/file/SharedFileFactory.h"
#include "velmo/manifest/FileManifest.h"
#include "velmo/manifest/PackageManifest.h"
#include "velmo/platform/System.h"
#include "velmo/transfer/TransferFailureStatus.h"
#include "velmo/transfer/works/CloseFileWork.h"
#include "velmo/transfer/works/LazyParallelTransferMultipleFilesWork.h"
#include "velmo/transfer/works/LazyTransferMultipleChunksWork.h"
#include "velmo/transfer/works/OpenAndAllocateFileWork.h"
#include "velmo/transfer/works/SequentialTransferMultipleFilesWork.h"
#include "velmo/transfer/works/TailRequestChunkWork.h"
#include "velmo/transfer/works/TransferMultipleFilesWork.h"
#include "velmo/transfer/works/TransferSharedFileData.h"
#include "velmo/transfer/works/TransferSingleChunkWork.h"
#include "velmo/transfer/works/TransferSingleFileWork.h"
#include "velmo/transfer/works/TransferWorkSupport.h"

namespace velmo {
namespace {

unsigned CapacityFor(TransferWorkInterface& workInterface) {
  return std::max(1u, workInterface.GetBehavior().settings.parallelWorkCapacity);
}

}  // namespace

bool IsProgramFile(TransferWorkInterface& workInterface, const std::string& relativePath) {
  if (workInterface.GetBehavior().sharedFileFactory->IsExecutable(
          workInterface.GetParamsRef().destPath, relativePath)) {
    return true;
  }
  const auto package = workInterface.GetPackage();
  return package && !package->GetRun().empty() && package->GetRun() == relativePath;
}

// ---------------------------------------------------------------------------

OpenAndAllocateFileWork::OpenAndAllocateFileWork(
    std::shared_ptr<TransferWorkInterface> workInterface,
    std::shared_ptr<TransferSharedFileData> file)
    : TransferWork(std::move(workInterface)), file_(std::move(file)) {
  ObserveByWorkLog(*this, *this->workInterface_);
}

void OpenAndAllocateFileWork::Describe(boost::property_tree::ptree& out) const {
  DescribeTransferWork(out, "OpenAndAllocateFileWork", true, *this, true);
  file_->Describe(out);
}

WorkStatus OpenAndAllocateFileWork::ExecuteTask() {
  try {
    file_->file = OpenAndAllocate(true);
    if (const auto identity = file_->file->Identity()) {
      workInterface_->RecordFileIdentity(file_->filePath, *identity);
    }
    return WorkStatus(WorkResult::Success, nullptr);
  } catch (...) {
    return FileFailureStatus(JoinPath(workInterface_->GetParamsRef().destPath, file_->filePath));
  }
}

void OpenAndAllocateFileWork::Reset() {
  SimpleWork::Reset();
  file_->file.reset();
  file_->created = false;
}

std::shared_ptr<SharedFile> OpenAndAllocateFileWork::OpenAndAllocate(bool allowRetry) {
  SharedFileFactory& files = *workInterface_->GetBehavior().sharedFileFactory;
  const std::string folder = workInterface_->GetParamsRef().destPath;
  const std::uint64_t size = file_->fileSize;
  std::shared_ptr<SharedFile> file = files.OpenFile(
      folder, file_->filePath, FileOpenMode::OpenOrCreate, 0, size == 0 ? 0 : size - 1);
  file_->created = false;
  if (file->GetSize() == size) return file;
  if (file->Allocate(size)) {
    file_->created = true;
    if (IsProgramFile(*workInterface_, file_->filePath)) file->DenyExecute();
    return file;
  }
  // A file of another size (an earlier run's, cut short or grown) keeps the
  // chunks that still verify: it takes the manifest's size, and every chunk
  // is checked before it is fetched. It is no longer the program it was.
  if (file->Resize(size)) {
    if (IsProgramFile(*workInterface_, file_->filePath)) file->DenyExecute();
    return file;
  }
  file.reset();
  if (allowRetry && files.RemoveFile(folder, file_->filePath)) return OpenAndAllocate(false);
  throw FileInUseException();
}

// ---------------------------------------------------------------------------

CloseFileWork::CloseFileWork(std::shared_ptr<TransferWorkInterface> workInterface,
                             std::shared_ptr<TransferSharedFileData> file)
    : TransferWork(std::move(workInterface)), file_(std::move(file)) {
  ObserveByWorkLog(*this, *this->workInterface_);
}

void CloseFileWork::Describe(boost::property_tree::ptree& out) const {
  DescribeTransferWork(out, "CloseFileWork", false, *this, true);
  file_->Describe(out);
}

WorkStatus CloseFileWork::ExecuteTask() {
  file_->file.reset();
  return WorkStatus(WorkResult::Success, nullptr);
}

// ---------------------------------------------------------------------------

LazyTransferMultipleChunksWork::LazyTransferMultipleChunksWork(
    std::shared_ptr<TransferWorkInterface> workInterface,
    std::shared_ptr<const FileManifest> manifest, std::shared_ptr<TransferSharedFileData> file)
    : TransferWork(std::move(workInterface)),
      LazyParallelWork(nullptr, CapacityFor(*this->workInterface_)),
      manifest_(std::move(manifest)),
      file_(std::move(file)),
      checksums_(manifest_->GetChecksums()),
      sha256s_(manifest_->GetSha256s()) {
  ObserveByWorkLog(*this, *this->workInterface_);
}

void LazyTransferMultipleChunksWork::Describe(boost::property_tree::ptree& out) const {
  DescribeTransferWork(out, "LazyTransferMultipleChunksWork", false, *this, true);
  file_->Describe(out);
}

std::shared_ptr<Work> LazyTransferMultipleChunksWork::GetNextWork() {
  const std::uint64_t i = Produced();
  if (i >= manifest_->GetChunkCount() || i >= checksums_.size()) return nullptr;
  const std::uint64_t chunkSize = manifest_->GetChunkSize();
  const std::uint64_t lower = i * chunkSize;
  const std::uint64_t upper = std::min((i + 1) * chunkSize, file_->fileSize) - 1;
  std::optional<Sha256Digest> sha256;
  if (i < sha256s_.size()) sha256 = sha256s_[static_cast<std::size_t>(i)];
  auto work = TransferSingleChunkWork::Create(workInterface_, file_, lower, upper,
                                              checksums_[static_cast<std::size_t>(i)], sha256);
  std::lock_guard<std::mutex> lock(producedMutex_);
  // An ended chunk's weak pointer keeps its whole make_shared block (work and
  // counts) allocated, so the ended ones go before the list doubles: it stays
  // about as long as the chunks in flight, not as the file's chunk count.
  if (produced_.size() >= pruneAt_) {
    produced_.erase(std::remove_if(produced_.begin(), produced_.end(),
                                   [](const auto& weak) { return weak.expired(); }),
                    produced_.end());
    produced_.shrink_to_fit();
    pruneAt_ = std::max<std::size_t>(kMinPruneAt, 2 * produced_.size());
  }
  produced_.push_back(work);
  return work;
}

bool LazyTransferMultipleChunksWork::StartTailRequest(
    const std::shared_ptr<TransferSharedMapData>& chunk) {
  return StartExtraChild(std::make_shared<TailRequestChunkWork>(workInterface_, chunk, true));
}

void LazyTransferMultipleChunksWork::Reset() {
  LazyParallelWork::Reset();
  std::lock_guard<std::mutex> lock(producedMutex_);
  produced_.clear();
  pruneAt_ = kMinPruneAt;
}

void LazyTransferMultipleChunksWork::ReleaseViews() {
  std::lock_guard<std::mutex> lock(producedMutex_);
  for (const auto& weak : produced_) {
    if (auto work = weak.lock()) work->ReleaseView();
  }
}

// ---------------------------------------------------------------------------

TransferSingleFileWork::TransferSingleFileWork(std::shared_ptr<TransferWorkInterface> workInterface,
                                               std::shared_ptr<TransferSharedFileData> file)
    : TransferWork(std::move(workInterface)), SequentialWork(nullptr, 3), file_(std::move(file)) {
  ObserveByWorkLog(*this, *this->workInterface_);
}

std::shared_ptr<TransferSingleFileWork> TransferSingleFileWork::Create(
    const std::shared_ptr<TransferWorkInterface>& workInterface,
    const std::shared_ptr<const FileManifest>& manifest) {
  auto file = std::make_shared<TransferSharedFileData>(manifest->GetPath(), manifest->GetSize());
  auto work = std::make_shared<TransferSingleFileWork>(workInterface, file);
  work->AddChild(std::make_shared<OpenAndAllocateFileWork>(workInterface, file));
  if (file->fileSize != 0) {
    work->chunks_ = std::make_shared<LazyTransferMultipleChunksWork>(workInterface, manifest, file);
    file->chunks = work->chunks_;
    work->AddChild(work->chunks_);
  }
  work->AddChild(std::make_shared<CloseFileWork>(workInterface, file));
  return work;
}

TransferSingleFileWork::~TransferSingleFileWork() {
  try {
    if (chunks_) chunks_->ReleaseViews();
    file_->file.reset();
    workInterface_->RegisterFile(file_->filePath);
  } catch (...) {
    // A destructor must not throw; the file simply stays unregistered.
  }
}

void TransferSingleFileWork::Describe(boost::property_tree::ptree& out) const {
  DescribeTransferWork(out, "TransferSingleFileWork", true, *this, true);
  file_->Describe(out);
}

void TransferSingleFileWork::Reset() {
  SequentialWork::Reset();
  file_->file.reset();
}

// ---------------------------------------------------------------------------

SequentialTransferMultipleFilesWork::SequentialTransferMultipleFilesWork(
    std::shared_ptr<TransferWorkInterface> workInterface, unsigned reserve)
    : TransferWork(std::move(workInterface)), SequentialWork(nullptr, reserve) {
  ObserveByWorkLog(*this, *this->workInterface_);
}

std::shared_ptr<SequentialTransferMultipleFilesWork> SequentialTransferMultipleFilesWork::Create(
    const std::vector<std::shared_ptr<const FileManifest>>& files,
    const std::shared_ptr<TransferWorkInterface>& workInterface) {
  if (files.empty()) {
    throw std::logic_error("SequentialTransferMultipleFilesWork constructed with empty cluster");
  }
  auto work = std::make_shared<SequentialTransferMultipleFilesWork>(
      workInterface, static_cast<unsigned>(files.size()));
  for (const auto& file : files)
    work->AddChild(TransferSingleFileWork::Create(workInterface, file));
  return work;
}

void SequentialTransferMultipleFilesWork::Describe(boost::property_tree::ptree& out) const {
  DescribeTransferWork(out, "SequentialTransferMultipleFilesWork", true, *this, true);
}

// ---------------------------------------------------------------------------

LazyParallelTransferMultipleFilesWork::LazyParallelTransferMultipleFilesWork(
    std::shared_ptr<TransferWorkInterface> workInterface)
    : TransferWork(std::move(workInterface)),
      LazyParallelWork(nullptr, CapacityFor(*this->workInterface_)) {
  const auto package = this->workInterface_->GetPackage();
  if (package) files_ = package->GetOtherFiles();
  if (files_.empty()) {
    throw std::logic_error("LazyParallelTransferMultipleFilesWork constructed with empty cluster");
  }
  ObserveByWorkLog(*this, *this->workInterface_);
}

void LazyParallelTransferMultipleFilesWork::Describe(boost::property_tree::ptree& out) const {
  DescribeTransferWork(out, "LazyParallelTransferMultipleFilesWork", true, *this, true);
}

std::shared_ptr<Work> LazyParallelTransferMultipleFilesWork::GetNextWork() {
  const std::uint32_t i = Produced();
  if (i >= files_.size()) return nullptr;
  return TransferSingleFileWork::Create(workInterface_, files_[i]);
}

// ---------------------------------------------------------------------------

TransferMultipleFilesWork::TransferMultipleFilesWork(
    std::shared_ptr<TransferWorkInterface> workInterface)
    : TransferWork(std::move(workInterface)), SequentialWork(nullptr, 2) {
  ObserveByWorkLog(*this, *this->workInterface_);
}

std::shared_ptr<TransferMultipleFilesWork> TransferMultipleFilesWork::Create(
    const std::shared_ptr<TransferWorkInterface>& workInterface) {
  const auto package = workInterface->GetPackage();
  const FileManifestList runFiles = package ? package->GetRunFiles() : FileManifestList();
  const FileManifestList otherFiles = package ? package->GetOtherFiles() : FileManifestList();
  if (runFiles.empty() && otherFiles.empty()) {
    throw std::logic_error("TransferMultipleFilesWork constructed with empty file set");
  }
  auto work = std::make_shared<TransferMultipleFilesWork>(workInterface);
  if (!runFiles.empty()) {
    work->AddChild(SequentialTransferMultipleFilesWork::Create(runFiles, workInterface));
  }
  if (!otherFiles.empty()) {
    work->AddChild(std::make_shared<LazyParallelTransferMultipleFilesWork>(workInterface));
  }
  return work;
}

void TransferMultipleFilesWork::Describe(boost::property_tree::ptree& out) const {
  DescribeTransferWork(out, "TransferMultipleFilesWork", false, *this, true);
}

}  // namespace velmo
