// How close the real optimizer comes to the ideal time on simulated nodes
// (a simulated clock, seeded draws): three nodes capped at 2, 8 and 32 MiB/s,
// three equal nodes, and two nodes beside one that refuses connections.
// Prints figures; the tests check who gets the bytes, this shows the time.
#include <cstdio>
#include <string>
#include <vector>

#include "NodeSimulation.h"

namespace {

constexpr double kMiB = 1048576.0;
constexpr std::uint64_t kChunk = 1048576;

void Report(const std::string& name, std::vector<velmo::SimulatedNode> nodes, std::uint32_t slots,
            std::uint32_t chunks, std::uint32_t seed) {
  velmo::NodeSimulation simulation(std::move(nodes), slots, kChunk, seed);
  const velmo::SimulationResult result = simulation.Run(chunks);
  const double ideal = simulation.IdealSeconds(chunks);
  std::printf("%-34s slots %2u seed %u: %7.2f s simulated, ideal %7.2f s, x ideal %.3f\n",
              name.c_str(), slots, seed, result.seconds, ideal, result.seconds / ideal);
}

}  // namespace

int main() {
  for (const std::uint32_t seed : {1u, 2u, 3u}) {
    for (const std::uint32_t slots : {4u, 6u, 10u}) {
      Report("capped 2/8/32 MiB/s, 256 MiB",
             {{"slow", 2 * kMiB, 0, false, false},
              {"mid", 8 * kMiB, 0, false, false},
              {"fast", 32 * kMiB, 0, false, false}},
             slots, 256, seed);
    }
  }
  Report("three equal 40 MiB/s, 600 MiB",
         {{"a", 40 * kMiB, 0, false, false},
          {"b", 40 * kMiB, 0, false, false},
          {"c", 40 * kMiB, 0, false, false}},
         6, 600, 5);
  Report("one refusing, two 16 MiB/s, 300 MiB",
         {{"dead", 32 * kMiB, 0, false, true},
          {"a", 16 * kMiB, 0, false, false},
          {"b", 16 * kMiB, 0, false, false}},
         6, 300, 3);
  return 0;
}
