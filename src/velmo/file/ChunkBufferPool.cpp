#include "velmo/file/ChunkBufferPool.h"

#include <algorithm>

namespace velmo {

struct ChunkBuffer::State {
  std::size_t bufferSize = 0;
  std::size_t memoryLimit = 0;
  std::mutex mutex;
  std::size_t lent = 0;  // pooled buffers lent out
  std::vector<std::unique_ptr<std::uint8_t[]>> free;
};

ChunkBuffer::ChunkBuffer(std::unique_ptr<std::uint8_t[]> data, std::size_t size,
                         std::shared_ptr<State> pool)
    : data_(std::move(data)), size_(size), pool_(std::move(pool)) {}

ChunkBuffer::ChunkBuffer(ChunkBuffer&& other) noexcept
    : data_(std::move(other.data_)), size_(other.size_), pool_(std::move(other.pool_)) {
  other.size_ = 0;
}

ChunkBuffer& ChunkBuffer::operator=(ChunkBuffer&& other) noexcept {
  if (this != &other) {
    Release();
    data_ = std::move(other.data_);
    size_ = other.size_;
    pool_ = std::move(other.pool_);
    other.size_ = 0;
  }
  return *this;
}

ChunkBuffer::~ChunkBuffer() { Release(); }

void ChunkBuffer::Release() {
  if (pool_ && data_) {
    std::lock_guard<std::mutex> lock(pool_->mutex);
    --pool_->lent;
    try {
      pool_->free.push_back(std::move(data_));
    } catch (...) {
      // No room to remember it: the memory simply goes back to the system.
    }
  }
  data_.reset();
  pool_.reset();
  size_ = 0;
}

ChunkBufferPool::ChunkBufferPool(std::size_t bufferSize, std::size_t memoryLimit)
    : state_(std::make_shared<ChunkBuffer::State>()) {
  state_->bufferSize = std::max<std::size_t>(bufferSize, 1);
  state_->memoryLimit = memoryLimit;
}

ChunkBuffer ChunkBufferPool::Acquire(std::size_t wanted) {
  if (wanted == 0) return ChunkBuffer();
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (!state_->free.empty()) {
      std::unique_ptr<std::uint8_t[]> data = std::move(state_->free.back());
      state_->free.pop_back();
      ++state_->lent;
      return ChunkBuffer(std::move(data), state_->bufferSize, state_);
    }
    const std::size_t held = (state_->lent + state_->free.size()) * state_->bufferSize;
    if (held + state_->bufferSize <= state_->memoryLimit) {
      ++state_->lent;
    } else {
      const std::size_t size = std::min(wanted, kSmallBufferSize);
      return ChunkBuffer(std::unique_ptr<std::uint8_t[]>(new std::uint8_t[size]), size, nullptr);
    }
  }
  // Allocated outside the lock; uninitialised, since every byte is written
  // before it is read.
  try {
    return ChunkBuffer(std::unique_ptr<std::uint8_t[]>(new std::uint8_t[state_->bufferSize]),
                       state_->bufferSize, state_);
  } catch (...) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    --state_->lent;
    throw;
  }
}

std::size_t ChunkBufferPool::BufferSize() const { return state_->bufferSize; }

std::size_t ChunkBufferPool::LentBytes() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->lent * state_->bufferSize;
}

std::size_t ChunkBufferPool::FreeBytes() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->free.size() * state_->bufferSize;
}

}  // namespace velmo
