#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace velmo {

class ChunkBufferPool;

// A block of memory lent by a ChunkBufferPool; it goes back to the pool when
// destroyed. Move-only. An empty buffer (Size() == 0) holds nothing.
class ChunkBuffer {
 public:
  ChunkBuffer() = default;
  ChunkBuffer(ChunkBuffer&& other) noexcept;
  ChunkBuffer& operator=(ChunkBuffer&& other) noexcept;
  ChunkBuffer(const ChunkBuffer&) = delete;
  ChunkBuffer& operator=(const ChunkBuffer&) = delete;
  ~ChunkBuffer();

  std::uint8_t* Data() const { return data_.get(); }
  std::size_t Size() const { return size_; }

 private:
  friend class ChunkBufferPool;
  struct State;
  ChunkBuffer(std::unique_ptr<std::uint8_t[]> data, std::size_t size, std::shared_ptr<State> pool);
  void Release();

  std::unique_ptr<std::uint8_t[]> data_;
  std::size_t size_ = 0;
  std::shared_ptr<State> pool_;  // null for a buffer that is not the pool's to keep
};

// The memory that received chunks wait in until they are verified. Buffers of
// one size are lent and kept for reuse, so a download touches the same pages
// again instead of faulting in fresh ones for every chunk. The pool never
// holds more than `memoryLimit` bytes of them; once they are all lent, a
// request gets a small buffer of its own instead (the chunk then streams to
// its file in small pieces), so a caller never waits for memory and the
// total stays bounded by the limit plus one small buffer per request in
// flight.
//
// Threads: Acquire from any thread; buffers may be destroyed on any thread,
// also after the pool is gone (they share its state).
class ChunkBufferPool {
 public:
  static constexpr std::size_t kSmallBufferSize = std::size_t{256} * 1024;

  ChunkBufferPool(std::size_t bufferSize, std::size_t memoryLimit);
  ChunkBufferPool(const ChunkBufferPool&) = delete;
  ChunkBufferPool& operator=(const ChunkBufferPool&) = delete;

  // A buffer for `wanted` bytes: a pooled one of BufferSize() bytes while the
  // limit allows, else a small one of min(wanted, kSmallBufferSize) bytes.
  // Never empty for wanted > 0.
  ChunkBuffer Acquire(std::size_t wanted);

  std::size_t BufferSize() const;
  // Bytes of pooled buffers lent out now and kept free now.
  std::size_t LentBytes() const;
  std::size_t FreeBytes() const;

 private:
  std::shared_ptr<ChunkBuffer::State> state_;
};

}  // namespace velmo
