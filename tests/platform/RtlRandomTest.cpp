#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "platform/os/Entropy.h"
#include "platform/os/testing/FakeClock.h"
#include "platform/rtl/RtlRandom.h"

namespace zk {
namespace {

// An entropy source that hands out a fixed pattern, or fails.
class TFixedEntropy : public os::IEntropy {
 public:
  uint8_t Pattern = 0x11;
  bool Fails = false;
  bool FillEntropy(void* buffer, size_t size) override {
    if (Fails) return false;
    std::memset(buffer, Pattern, size);
    return true;
  }
};

std::vector<int32_t> Draw(int count, int32_t range) {
  std::vector<int32_t> values;
  for (int i = 0; i < count; ++i) values.push_back(Random(range));
  return values;
}

TEST(RtlRandom, StaysWithinItsRange) {
  EXPECT_EQ(Random(0), 0);
  EXPECT_EQ(Random(-7), 0);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(Random(1), 0);
  std::set<int32_t> seen;
  for (int i = 0; i < 2000; ++i) {
    int32_t r = Random(10);
    ASSERT_GE(r, 0);
    ASSERT_LT(r, 10);
    seen.insert(r);
  }
  EXPECT_EQ(seen.size(), 10u);
  for (int i = 0; i < 1000; ++i) {
    int32_t r = Random(0x7FFFFFFF);
    ASSERT_GE(r, 0);
    ASSERT_LT(r, 0x7FFFFFFF);
  }
}

TEST(RtlRandom, SeedDependsOnEntropyAndClock) {
  TFixedEntropy entropy;
  os::testing::TFakeClock clock;
  os::TScopedService<os::IEntropy> useEntropy(entropy);
  os::TScopedService<os::IClock> useClock(clock);

  Randomize();
  const auto first = Draw(16, 0x7FFFFFFF);
  Randomize();
  EXPECT_EQ(Draw(16, 0x7FFFFFFF), first);  // same entropy, same moment

  entropy.Pattern = 0x12;
  Randomize();
  const auto otherEntropy = Draw(16, 0x7FFFFFFF);
  EXPECT_NE(otherEntropy, first);

  clock.Counter += 1;
  Randomize();
  EXPECT_NE(Draw(16, 0x7FFFFFFF), otherEntropy);

  // Without entropy the clock still gives a working, moment-dependent seed.
  entropy.Fails = true;
  Randomize();
  const auto clockOnly = Draw(16, 0x7FFFFFFF);
  clock.Counter += 1;
  Randomize();
  EXPECT_NE(Draw(16, 0x7FFFFFFF), clockOnly);
}

TEST(RtlRandom, RealSourcesGiveDifferentSequences) {
  Randomize();
  const auto first = Draw(8, 0x7FFFFFFF);
  Randomize();
  EXPECT_NE(Draw(8, 0x7FFFFFFF), first);
}

}  // namespace
}  // namespace zk
