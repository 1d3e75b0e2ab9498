#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "velmo/file/BoundedFileData.h"
#include "velmo/file/ChunkBufferPool.h"
#include "velmo/file/Sha256Hasher.h"

namespace velmo {

class SharedFile;

// The bytes of one chunk on their way from the network to its file. They
// collect in a memory buffer with their CRC-32 kept up to date, so a chunk can
// be checked before any of it reaches the disk, and a chunk that fails the
// check never does. Commit writes what the buffer holds at its place in the
// file. A chunk larger than the buffer streams: each time the buffer is full
// its bytes go to the file and the CRC-32 carries on from there, so memory
// stays bounded whatever chunk size a manifest sets (such a chunk's bytes are
// on disk before they are verified, and a bad one is simply written again).
// With `sha256` set, a SHA-256 is kept beside the CRC-32 the same way; chunks
// of manifests without strong hashes leave it off and pay nothing for it.
//
// Writes are accepted only in order from the current position; the position
// can only go back to the first byte (Rewind). Used by one thread at a time,
// like the chunk pipeline that owns it.
class BufferedChunkData : public BoundedFileData {
 public:
  BufferedChunkData(std::shared_ptr<SharedFile> file, std::uint64_t first, std::uint64_t last,
                    ChunkBuffer buffer, bool sha256 = false);

  std::uint64_t GetPosition() override { return position_; }
  // Only LowerBound() (the same as Rewind) or the current position; anything
  // else throws FileOutOfBoundsException, since the CRC-32 covers the bytes
  // from the first one on.
  void SetPosition(std::uint64_t offset) override;
  // Not supported: the chunk is written here, never read back (throws
  // std::logic_error).
  std::uint32_t Read(void* buffer, std::uint32_t count) override;
  // Takes all `count` bytes at the position or throws: FileOutOfBoundsException
  // past the chunk's last byte (nothing is taken then), a FileException when
  // a full buffer cannot be written out.
  std::uint32_t Write(const void* buffer, std::uint32_t count) override;

  // Forgets every byte taken so far.
  void Rewind();
  // Bytes taken since the first byte.
  std::uint64_t Received() const { return position_ - LowerBound(); }
  // True when every byte of the chunk has been taken.
  bool Complete() const { return position_ == UpperBound() + 1; }
  // CRC-32 of the bytes taken so far.
  std::uint32_t Crc32() const;
  // True when the SHA-256 is kept.
  bool HasSha256() const { return sha_.has_value(); }
  // SHA-256 of the bytes taken so far; std::logic_error when it is not kept.
  Sha256Digest Sha256() const;
  // True when some bytes already went to the file before the check.
  bool Streamed() const { return pieceStart_ != LowerBound(); }
  // Writes the buffered bytes to the file; a FileException when it cannot.
  void Commit();
  // The buffered bytes (those not yet written to the file) and their offset.
  const std::uint8_t* Pending() const { return buffer_.Data(); }
  std::uint64_t PendingSize() const { return position_ - pieceStart_; }
  std::uint64_t PendingOffset() const { return pieceStart_; }

 private:
  void Flush();

  std::shared_ptr<SharedFile> file_;
  ChunkBuffer buffer_;
  std::uint64_t position_;           // next byte to take
  std::uint64_t pieceStart_;         // file offset of buffer_[0]
  std::uint32_t flushedCrc_ = 0;     // CRC-32 of the bytes before pieceStart_
  std::optional<Sha256Hasher> sha_;  // state after the bytes before pieceStart_
};

}  // namespace velmo
