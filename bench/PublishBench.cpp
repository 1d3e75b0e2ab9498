// Publishing speed against the bare CRC-32 speed. Publishing reads every byte
// once and checksums it; placing the files is a hard link on one file system,
// so the whole run should be close to the checksum speed over the same bytes.
//
//   PublishBench [MiB]      (default 1024: a 1 GiB folder of four files)
#include <libdeflate.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Publisher.h"

namespace fs = std::filesystem;

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
  const fs::path root =
      fs::temp_directory_path() / ("velmo-publish-bench-" + std::to_string(::getpid()));
  fs::create_directories(root / "src");
  const std::uint64_t files = 4;
  const std::uint64_t fileSize = mib * 1024 * 1024 / files;
  std::vector<char> block(1024 * 1024);
  for (std::size_t i = 0; i < block.size(); ++i)
    block[i] = static_cast<char>(i * 2654435761u >> 24);
  for (std::uint64_t f = 0; f < files; ++f) {
    std::ofstream out(root / "src" / ("part" + std::to_string(f) + ".bin"), std::ios::binary);
    for (std::uint64_t written = 0; written < fileSize; written += block.size()) {
      out.write(block.data(), static_cast<std::streamsize>(
                                  std::min<std::uint64_t>(block.size(), fileSize - written)));
    }
  }

  // The checksum alone, over the same number of bytes held in memory.
  auto start = std::chrono::steady_clock::now();
  std::uint32_t crc = 0;
  for (std::uint64_t done = 0; done < files * fileSize; done += block.size()) {
    crc = libdeflate_crc32(crc, block.data(), block.size());
  }
  const double crcSeconds = Seconds(start);

  velmo::publish::PackageOptions options;
  options.partnerId = "bench";
  options.packageId = "pkg";
  options.versionId = "1";
  options.name = "Bench";
  options.tree = (root / "tree").string();
  options.source = (root / "src").string();
  start = std::chrono::steady_clock::now();
  const velmo::publish::PublishedPackage published = velmo::publish::PublishPackage(options);
  const double publishSeconds = Seconds(start);

  const double gb = static_cast<double>(files * fileSize) / 1e9;
  std::printf("bytes: %llu in %llu files (crc %08x)\n",
              static_cast<unsigned long long>(files * fileSize),
              static_cast<unsigned long long>(published.files.size()), crc);
  std::printf("crc32 only:  %.2f GB/s\n", gb / crcSeconds);
  std::printf("publish:     %.2f GB/s (%.2f s; %llu linked, %llu copied)\n", gb / publishSeconds,
              publishSeconds, static_cast<unsigned long long>(published.linkedFiles),
              static_cast<unsigned long long>(published.copiedFiles));
  fs::remove_all(root);
  return 0;
}
