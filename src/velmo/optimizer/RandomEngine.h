#pragma once

#include <cstdint>
#include <random>

namespace velmo {

// The source of randomness of node selection: 32-bit outputs over their full
// range. Injected so that tests can fix the seed or script the outputs.
class RandomEngine {
 public:
  virtual ~RandomEngine() = default;
  virtual std::uint32_t Next() = 0;
};

// The 32-bit Mersenne Twister (mt19937).
class MersenneTwisterRandomEngine : public RandomEngine {
 public:
  explicit MersenneTwisterRandomEngine(std::uint32_t seed) : engine_(seed) {}
  std::uint32_t Next() override { return static_cast<std::uint32_t>(engine_()); }

 private:
  std::mt19937 engine_;
};

// A double in [0, 1): one engine output times 2^-32.
double UniformDouble(RandomEngine& engine);

// An integer from 0 to count - 1 (count >= 1), drawn like the uniform integer
// distribution of the Boost random library: the engine's range is cut into
// count buckets of equal size and outputs beyond the last bucket are drawn
// again, so every value is equally likely. A count of 1 draws nothing.
std::uint32_t UniformIndex(RandomEngine& engine, std::uint32_t count);

}  // namespace velmo
