#include "platform/rtl/RtlRandom.h"

#include <cstring>
#include <mutex>

#include "platform/os/Clock.h"
#include "platform/os/Entropy.h"
#include "platform/rtl/SecureMemory.h"

namespace zk {

namespace {

// xoshiro256**: 256 bits of state, period 2^256 - 1.
class TRtlGenerator {
 public:
  void Seed() {
    uint64_t entropy[4] = {};
    if (!os::Entropy().FillEntropy(entropy, sizeof entropy)) {
      // No entropy source: the clock alone still seeds the generator.
      std::memset(entropy, 0, sizeof entropy);
    }
    uint64_t mix = static_cast<uint64_t>(os::Clock().UtcNowFileTime()) ^
                   (static_cast<uint64_t>(os::Clock().PerformanceCounter()) << 1);
    for (int i = 0; i < 4; ++i) FState[i] = entropy[i] ^ SplitMix(mix);
    SecureFill(entropy, sizeof entropy);
    if ((FState[0] | FState[1] | FState[2] | FState[3]) == 0) FState[0] = 0x9E3779B97F4A7C15ull;
    FSeeded = true;
  }

  bool Seeded() const { return FSeeded; }

  uint64_t Next() {
    const uint64_t result = Rotl(FState[1] * 5, 7) * 9;
    const uint64_t t = FState[1] << 17;
    FState[2] ^= FState[0];
    FState[3] ^= FState[1];
    FState[1] ^= FState[2];
    FState[0] ^= FState[3];
    FState[2] ^= t;
    FState[3] = Rotl(FState[3], 45);
    return result;
  }

 private:
  static uint64_t Rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  static uint64_t SplitMix(uint64_t& x) {
    uint64_t z = (x += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }

  uint64_t FState[4] = {};
  bool FSeeded = false;
};

std::mutex& GeneratorLock() {
  static std::mutex lock;
  return lock;
}

TRtlGenerator& Generator() {
  static TRtlGenerator generator;
  return generator;
}

}  // namespace

int32_t Random(int32_t range) {
  if (range <= 0) return 0;
  std::lock_guard<std::mutex> guard(GeneratorLock());
  TRtlGenerator& g = Generator();
  if (!g.Seeded()) g.Seed();
  // Multiply-and-shift with rejection of the few biased products.
  const uint32_t bound = static_cast<uint32_t>(range);
  uint64_t product = (g.Next() >> 32) * bound;
  uint32_t low = static_cast<uint32_t>(product);
  if (low < bound) {
    const uint32_t threshold = (0u - bound) % bound;
    while (low < threshold) {
      product = (g.Next() >> 32) * bound;
      low = static_cast<uint32_t>(product);
    }
  }
  return static_cast<int32_t>(product >> 32);
}

void Randomize() {
  std::lock_guard<std::mutex> guard(GeneratorLock());
  Generator().Seed();
}

}  // namespace zk
