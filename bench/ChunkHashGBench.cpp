// What a chunk's check costs per MiB: the CRC-32 alone (manifests without
// SHA-256s) against CRC-32 plus SHA-256, both over 1 MiB chunks in memory,
// and the SHA-256 alone as libcrypto computes it (with the CPU's SHA
// extensions where the processor has them).
#include <benchmark/benchmark.h>
#include <libdeflate.h>

#include <vector>

#include "ChunkBytes.h"
#include "velmo/file/Sha256Hasher.h"

namespace {

using velmo::bench::ChunkBytes;

void Crc32Only(benchmark::State& state) {
  const auto data = ChunkBytes(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(libdeflate_crc32(0, data.data(), data.size()));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void Sha256Only(benchmark::State& state) {
  const auto data = ChunkBytes(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(velmo::Sha256Of(data.data(), data.size()));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void Crc32AndSha256(benchmark::State& state) {
  const auto data = ChunkBytes(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(libdeflate_crc32(0, data.data(), data.size()));
    velmo::Sha256Hasher hasher;
    benchmark::DoNotOptimize(hasher.DigestWith(data.data(), data.size()));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

}  // namespace

BENCHMARK(Crc32Only)->Arg(1 << 20);
BENCHMARK(Sha256Only)->Arg(1 << 20);
BENCHMARK(Crc32AndSha256)->Arg(1 << 20);
BENCHMARK_MAIN();
