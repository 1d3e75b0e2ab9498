#include <gtest/gtest.h>

#include "velmo/engine/EngineSettings.h"
#include "velmo/platform/BuildValues.h"
#include "velmo/platform/System.h"

namespace velmo {
namespace {

TEST(EngineSettingsTest, ThreadFiguresFollowTheProcessorCount) {
  struct Case {
    unsigned processors;
    std::uint32_t expected;
  };
  for (const Case c : {Case{0, 3}, Case{1, 3}, Case{2, 4}, Case{4, 6}, Case{8, 10}}) {
    const EngineSettings s(c.processors);
    EXPECT_EQ(s.transferThreadCount, c.expected) << c.processors;
    EXPECT_EQ(s.workflowConcurrency, c.expected) << c.processors;
    EXPECT_EQ(s.parallelWorkCapacity, c.expected) << c.processors;
  }
}

TEST(EngineSettingsTest, DefaultConstructorUsesThisMachine) {
  const EngineSettings s;
  EXPECT_EQ(s.transferThreadCount, ProcessorCount() + 2);
  EXPECT_EQ(s.manifestHost, build::kManifestHost);
}

TEST(EngineSettingsTest, LogMaskLetsEveryLevelThroughButEight) {
  const auto mask = static_cast<std::uint32_t>(EngineSettings(1).logMask);
  EXPECT_EQ(mask & 8u, 0u);
  EXPECT_EQ(mask | 8u, 0xFFFFFFFFu);
}

}  // namespace
}  // namespace velmo
