// CRC-32 throughput of the implementations we could verify chunks with, over
// chunk-sized buffers in memory, next to memcpy as the memory-speed ceiling.
// The engine uses libdeflate; this keeps that choice honest on new hardware.
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <boost/crc.hpp>
#include <cstring>
#include <vector>

#include "ChunkBytes.h"

namespace {

using velmo::bench::ChunkBytes;

void Libdeflate(benchmark::State& state) {
  const auto data = ChunkBytes(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(libdeflate_crc32(0, data.data(), data.size()));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void Zlib(benchmark::State& state) {
  const auto data = ChunkBytes(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(crc32(0L, data.data(), static_cast<uInt>(data.size())));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BoostCrc(benchmark::State& state) {
  const auto data = ChunkBytes(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    boost::crc_32_type crc;
    crc.process_bytes(data.data(), data.size());
    benchmark::DoNotOptimize(crc.checksum());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void Memcpy(benchmark::State& state) {
  const auto data = ChunkBytes(static_cast<std::size_t>(state.range(0)));
  std::vector<unsigned char> copy(data.size());
  for (auto _ : state) {
    std::memcpy(copy.data(), data.data(), data.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

}  // namespace

BENCHMARK(Libdeflate)->Arg(64 << 10)->Arg(1 << 20)->Arg(16 << 20);
BENCHMARK(Zlib)->Arg(1 << 20);
BENCHMARK(BoostCrc)->Arg(1 << 20);
BENCHMARK(Memcpy)->Arg(1 << 20)->Arg(16 << 20);

BENCHMARK_MAIN();
