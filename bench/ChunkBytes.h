#pragma once

#include <cstddef>
#include <vector>

namespace velmo::bench {

// Chunk-sized bytes that vary, so no checksum or copy can take a shortcut.
inline std::vector<unsigned char> ChunkBytes(std::size_t size) {
  std::vector<unsigned char> data(size);
  for (std::size_t i = 0; i < size; ++i)
    data[i] = static_cast<unsigned char>(i * 2654435761u >> 24);
  return data;
}

}  // namespace velmo::bench
