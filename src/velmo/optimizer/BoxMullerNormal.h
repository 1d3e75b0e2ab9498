#pragma once

#include "velmo/optimizer/RandomEngine.h"

namespace velmo {

// A normal distribution sampled by the Box-Muller transform: every second
// sample uses the pair of uniforms drawn for the first (cosine, then sine), so
// the engine is consumed in a fixed, documented order. Each distribution
// keeps its own pair.
class BoxMullerNormal {
 public:
  BoxMullerNormal(double mean, double sigma) : mean_(mean), sigma_(sigma) {}

  double Sample(RandomEngine& engine);

 private:
  double mean_;
  double sigma_;
  double r1_ = 0.0;
  double r2_ = 0.0;
  double rho_ = 0.0;
  bool valid_ = false;
};

}  // namespace velmo
