#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <stdexcept>

#include "velmo/optimizer/AliasTable.h"
#include "velmo/optimizer/BoxMullerNormal.h"
#include "velmo/optimizer/RandomEngine.h"

namespace velmo {
namespace {

// Hands out the given outputs in order and fails the test when it runs dry.
class ScriptedEngine : public RandomEngine {
 public:
  explicit ScriptedEngine(std::deque<std::uint32_t> outputs) : outputs_(std::move(outputs)) {}
  std::uint32_t Next() override {
    if (outputs_.empty()) throw std::logic_error("scripted engine ran dry");
    const auto value = outputs_.front();
    outputs_.pop_front();
    return value;
  }
  std::size_t Left() const { return outputs_.size(); }

 private:
  std::deque<std::uint32_t> outputs_;
};

constexpr std::uint32_t Fraction(double u) { return static_cast<std::uint32_t>(u * 4294967296.0); }

TEST(RandomDrawsTest, UniformDoubleIsOneOutputScaled) {
  ScriptedEngine engine({0, 0x80000000u, 0xFFFFFFFFu});
  EXPECT_EQ(UniformDouble(engine), 0.0);
  EXPECT_EQ(UniformDouble(engine), 0.5);
  EXPECT_LT(UniformDouble(engine), 1.0);
}

TEST(RandomDrawsTest, UniformIndexUsesEqualBucketsAndRedrawsTheRest) {
  // Three buckets of 1431655765 outputs; 0xFFFFFFFF lies beyond the last.
  ScriptedEngine engine({0xFFFFFFFFu, 1431655765u * 2, 1431655764u, 0});
  EXPECT_EQ(UniformIndex(engine, 3), 2u);
  EXPECT_EQ(engine.Left(), 2u);
  EXPECT_EQ(UniformIndex(engine, 3), 0u);
  EXPECT_EQ(UniformIndex(engine, 1), 0u);
  EXPECT_EQ(engine.Left(), 1u);
  // A power of two divides the range evenly: the top bits decide.
  ScriptedEngine halves({0x7FFFFFFFu, 0x80000000u});
  EXPECT_EQ(UniformIndex(halves, 2), 0u);
  EXPECT_EQ(UniformIndex(halves, 2), 1u);
  EXPECT_THROW(UniformIndex(halves, 0), std::invalid_argument);
}

TEST(RandomDrawsTest, BoxMullerUsesOnePairForTwoSamples) {
  // r1 = 0.25 (a quarter turn), r2 = 1 - e^-2, so rho = 2.
  const std::uint32_t r2 = Fraction(1.0 - std::exp(-2.0));
  ScriptedEngine engine({Fraction(0.25), r2, 0, r2});
  BoxMullerNormal normal(100.0, 10.0);
  EXPECT_NEAR(normal.Sample(engine), 100.0, 1e-6);  // 2 cos(pi/2)
  EXPECT_NEAR(normal.Sample(engine), 120.0, 1e-6);  // 2 sin(pi/2), no new draw
  EXPECT_EQ(engine.Left(), 2u);
  EXPECT_NEAR(normal.Sample(engine), 120.0, 1e-6);  // r1 = 0: 2 cos(0)
  EXPECT_EQ(engine.Left(), 0u);
  EXPECT_NEAR(normal.Sample(engine), 100.0, 1e-6);
}

TEST(RandomDrawsTest, AliasTableIsBuiltLikeWalkersMethod) {
  const AliasTable table({0.5, 0.25, 0.25});
  const auto& entries = table.Entries();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_DOUBLE_EQ(entries[0].first, 1.0);
  EXPECT_DOUBLE_EQ(entries[1].first, 0.75);
  EXPECT_EQ(entries[1].second, 0u);
  EXPECT_DOUBLE_EQ(entries[2].first, 0.75);
  EXPECT_EQ(entries[2].second, 0u);

  const AliasTable empty({});
  ASSERT_EQ(empty.Entries().size(), 1u);
  EXPECT_EQ(empty.Entries()[0], std::make_pair(1.0, 0u));
}

TEST(RandomDrawsTest, AliasDrawTakesTheDoubleBeforeTheIndex) {
  const AliasTable table({0.5, 0.25, 0.25});
  // u = 0.8 then index 1: 0.8 is not below 0.75, so the alias 0.
  ScriptedEngine engine({Fraction(0.8), 1431655765u, Fraction(0.5), 1431655765u});
  EXPECT_EQ(table.Draw(engine), 0u);
  EXPECT_EQ(table.Draw(engine), 1u);
  EXPECT_EQ(engine.Left(), 0u);
}

TEST(RandomDrawsTest, AliasDrawFollowsTheWeights) {
  const AliasTable table({1.0, 0.0, 3.0, 4.0});
  MersenneTwisterRandomEngine engine(12345);
  int counts[4] = {};
  constexpr int kDraws = 80000;
  for (int i = 0; i < kDraws; ++i) ++counts[table.Draw(engine)];
  EXPECT_EQ(counts[1], 0);
  EXPECT_NEAR(counts[0] / double(kDraws), 0.125, 0.01);
  EXPECT_NEAR(counts[2] / double(kDraws), 0.375, 0.01);
  EXPECT_NEAR(counts[3] / double(kDraws), 0.5, 0.01);
}

}  // namespace
}  // namespace velmo
