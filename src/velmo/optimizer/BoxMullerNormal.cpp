#include "velmo/optimizer/BoxMullerNormal.h"

#include <cmath>

namespace velmo {

double BoxMullerNormal::Sample(RandomEngine& engine) {
  constexpr double kTwoPi = 6.283185307179586476925286766559;
  double value;
  if (!valid_) {
    r1_ = UniformDouble(engine);
    r2_ = UniformDouble(engine);
    rho_ = std::sqrt(-2.0 * std::log(1.0 - r2_));
    valid_ = true;
    value = rho_ * std::cos(kTwoPi * r1_);
  } else {
    valid_ = false;
    value = rho_ * std::sin(kTwoPi * r1_);
  }
  return value * sigma_ + mean_;
}

}  // namespace velmo
