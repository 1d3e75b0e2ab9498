#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "velmo/file/BoundedFileData.h"
#include "velmo/file/ChunkBufferPool.h"
#include "velmo/file/Sha256Hasher.h"
#include "velmo/file/StagingFile.h"

namespace velmo {

class SharedFile;

// The bytes of one chunk on their way from the network to its file. They
// collect in a memory buffer with their CRC-32 kept up to date, so a chunk can
// be checked before any of it reaches its file, and a chunk that fails the
// check never does. A chunk larger than the buffer is staged: each time the
// buffer is full its bytes go to an unnamed staging file of this copy's own
// (StagingFile, in `stagingFolder`) and the CRC-32 carries on from there, so
// memory stays bounded whatever chunk size a manifest sets, and still no
// byte reaches the destination before the whole chunk is verified. Commit,
// called only for a verified copy, writes the staged bytes and the buffer's
// at their place in the file. A copy that loses, fails or is cancelled has
// written nothing to the destination, whatever it received. With `sha256`
// set, a SHA-256 is kept beside the CRC-32 the same way; chunks of manifests
// without strong hashes leave it off and pay nothing for it.
//
// Writes are accepted only in order from the current position; the position
// can only go back to the first byte (Rewind). Used by one thread at a time,
// like the chunk pipeline that owns it.
class BufferedChunkData : public BoundedFileData {
 public:
  BufferedChunkData(std::shared_ptr<SharedFile> file, std::uint64_t first, std::uint64_t last,
                    ChunkBuffer buffer, bool sha256 = false, std::string stagingFolder = {});

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
  // a full buffer cannot be staged.
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
  // True when some bytes went to the staging file (the chunk outgrew the
  // buffer).
  bool Staged() const { return pieceStart_ != LowerBound(); }
  // Writes every byte taken (staged and buffered) at its place in the file,
  // then forgets them as Rewind does: the buffer is reused to copy the staged
  // bytes. For a verified copy only. A FileException when the file cannot be
  // written; the bytes are forgotten then too.
  void Commit();

 private:
  void Flush();

  std::shared_ptr<SharedFile> file_;
  ChunkBuffer buffer_;
  std::uint64_t position_;           // next byte to take
  std::uint64_t pieceStart_;         // file offset of buffer_[0]
  std::uint32_t flushedCrc_ = 0;     // CRC-32 of the bytes before pieceStart_
  std::optional<Sha256Hasher> sha_;  // state after the bytes before pieceStart_
  std::string stagingFolder_;
  std::unique_ptr<StagingFile> staging_;  // bytes before pieceStart_, from LowerBound()
};

}  // namespace velmo
