#include "velmo/file/BufferedChunkData.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "velmo/file/FileException.h"
#include "velmo/file/SharedFile.h"

namespace velmo {

BufferedChunkData::BufferedChunkData(std::shared_ptr<SharedFile> file, std::uint64_t first,
                                     std::uint64_t last, ChunkBuffer buffer, bool sha256,
                                     std::string stagingFolder)
    : BoundedFileData(first, last),
      file_(std::move(file)),
      buffer_(std::move(buffer)),
      position_(first),
      pieceStart_(first),
      stagingFolder_(std::move(stagingFolder)) {
  CheckBounds(first, last);
  if (!file_) throw std::invalid_argument("BufferedChunkData needs a file");
  if (buffer_.Size() == 0) throw std::invalid_argument("BufferedChunkData needs a buffer");
  if (sha256) sha_.emplace();
}

void BufferedChunkData::SetPosition(std::uint64_t offset) {
  if (offset == LowerBound()) {
    Rewind();
  } else if (offset != position_) {
    throw FileOutOfBoundsException();
  }
}

std::uint32_t BufferedChunkData::Read(void*, std::uint32_t) {
  throw std::logic_error("BufferedChunkData is written, never read");
}

std::uint32_t BufferedChunkData::Write(const void* buffer, std::uint32_t count) {
  if (count == 0) return 0;
  CheckAccess(position_, count);
  const auto* p = static_cast<const std::uint8_t*>(buffer);
  std::uint32_t left = count;
  while (left > 0) {
    std::uint64_t used = position_ - pieceStart_;
    if (used == buffer_.Size()) {
      Flush();
      used = 0;
    }
    const std::uint64_t room = buffer_.Size() - used;
    const std::uint32_t n = room < left ? static_cast<std::uint32_t>(room) : left;
    std::memcpy(buffer_.Data() + used, p, n);
    p += n;
    left -= n;
    position_ += n;
  }
  return count;
}

void BufferedChunkData::Rewind() {
  position_ = LowerBound();
  pieceStart_ = LowerBound();
  flushedCrc_ = 0;
  if (sha_) sha_->Reset();
}

std::uint32_t BufferedChunkData::Crc32() const {
  return static_cast<std::uint32_t>(libdeflate_crc32(
      flushedCrc_, buffer_.Data(), static_cast<std::size_t>(position_ - pieceStart_)));
}

Sha256Digest BufferedChunkData::Sha256() const {
  if (!sha_) throw std::logic_error("BufferedChunkData keeps no SHA-256");
  return sha_->DigestWith(buffer_.Data(), static_cast<std::size_t>(position_ - pieceStart_));
}

void BufferedChunkData::Commit() {
  struct Forget {
    BufferedChunkData& data;
    ~Forget() { data.Rewind(); }
  } forget{*this};
  const std::uint64_t size = position_ - pieceStart_;
  if (size != 0) file_->WriteAt(pieceStart_, buffer_.Data(), static_cast<std::size_t>(size));
  // The staged bytes: within the kernel where the file can, else through
  // the buffer, now that its own bytes are written.
  if (!staging_ ||
      file_->CopyFrom(staging_->Descriptor(), 0, LowerBound(), pieceStart_ - LowerBound())) {
    return;
  }
  for (std::uint64_t at = LowerBound(); at < pieceStart_;) {
    const auto n =
        static_cast<std::size_t>(std::min<std::uint64_t>(buffer_.Size(), pieceStart_ - at));
    staging_->ReadAt(at - LowerBound(), buffer_.Data(), n);
    file_->WriteAt(at, buffer_.Data(), n);
    at += n;
  }
}

void BufferedChunkData::Flush() {
  const std::uint64_t size = position_ - pieceStart_;
  if (size == 0) return;
  if (!staging_) staging_ = std::make_unique<StagingFile>(stagingFolder_);
  staging_->WriteAt(pieceStart_ - LowerBound(), buffer_.Data(), static_cast<std::size_t>(size));
  flushedCrc_ = static_cast<std::uint32_t>(
      libdeflate_crc32(flushedCrc_, buffer_.Data(), static_cast<std::size_t>(size)));
  if (sha_) sha_->Update(buffer_.Data(), static_cast<std::size_t>(size));
  pieceStart_ = position_;
}

}  // namespace velmo
