#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "container/crypto/CheckValue.h"
#include "platform/os/testing/FakeClock.h"

namespace zk {
namespace {

const char kCheck[] = "123456789";

TEST(CheckValue, Crc16PublishedCheckValues) {
  EXPECT_EQ(UpdateCrc16(0, kCheck, 9), 0xBB3D);                               // CRC-16/ARC
  EXPECT_EQ(UpdateCrc16(0xFFFF, kCheck, 9), 0x4B37);                          // CRC-16/MODBUS
  EXPECT_EQ(static_cast<uint16_t>(~UpdateCrc16(0xFFFF, kCheck, 9)), 0xB4C8);  // CRC-16/USB
  EXPECT_EQ(ComputeCheckValue(kCheck, 9, ckCrc16), 0xBB3Du);
}

TEST(CheckValue, Crc32WithCallerInversions) {
  EXPECT_EQ(~UpdateCrc32(0xFFFFFFFFu, kCheck, 9), 0xCBF43926u);
  // Without the inversions it is the plain register.
  EXPECT_EQ(UpdateCrc32(0, kCheck, 9), 0x2DFD2D88u);
}

TEST(CheckValue, CrcInPiecesEqualsWhole) {
  uint16_t c16 = UpdateCrc16(0, kCheck, 4);
  c16 = UpdateCrc16(c16, kCheck + 4, 5);
  EXPECT_EQ(c16, 0xBB3D);
  uint32_t c32 = UpdateCrc32(0xFFFFFFFFu, kCheck, 1);
  c32 = UpdateCrc32(c32, kCheck + 1, 8);
  EXPECT_EQ(~c32, 0xCBF43926u);
}

TEST(CheckValue, AbsentDataOrNonPositiveSizeLeavesStart) {
  EXPECT_EQ(UpdateCrc16(0x1234, nullptr, 5), 0x1234);
  EXPECT_EQ(UpdateCrc16(0x1234, kCheck, 0), 0x1234);
  EXPECT_EQ(UpdateCrc16(0x1234, kCheck, -1), 0x1234);
  EXPECT_EQ(UpdateCrc32(0xDEADBEEFu, nullptr, 5), 0xDEADBEEFu);
  EXPECT_EQ(UpdateCrc32(0xDEADBEEFu, kCheck, -7), 0xDEADBEEFu);
  EXPECT_EQ(ComputeCheckValue(kCheck, 0, ckCrc16), 0u);
  EXPECT_EQ(ComputeCheckValue(nullptr, 8, ckXorWords), 0u);
}

TEST(CheckValue, XorOfWordsIgnoresTrailingBytes) {
  const uint8_t bytes[] = {0x01, 0x02, 0x03, 0x04, 0x10, 0x20, 0x30, 0x40, 0xFF, 0xFF, 0xFF};
  for (uint32_t n = 1; n <= 3; ++n) EXPECT_EQ(ComputeCheckValue(bytes, n, ckXorWords), 0u) << n;
  EXPECT_EQ(ComputeCheckValue(bytes, 4, ckXorWords), 0x04030201u);
  EXPECT_EQ(ComputeCheckValue(bytes, 8, ckXorWords), 0x44332211u);
  EXPECT_EQ(ComputeCheckValue(bytes, 11, ckXorWords), 0x44332211u);

  // A header-sized range of 426 bytes is checked over its first 424 bytes.
  std::vector<uint8_t> header(426);
  for (size_t i = 0; i < header.size(); ++i) header[i] = static_cast<uint8_t>(i * 7 + 3);
  const uint32_t v = ComputeCheckValue(header.data(), 426, ckXorWords);
  EXPECT_EQ(v, ComputeCheckValue(header.data(), 424, ckXorWords));
  header[424] ^= 0xFF;
  header[425] ^= 0x55;
  EXPECT_EQ(ComputeCheckValue(header.data(), 426, ckXorWords), v);
  header[423] ^= 0x01;
  EXPECT_EQ(ComputeCheckValue(header.data(), 426, ckXorWords), v ^ 0x01000000u);
}

TEST(CheckValue, OtherKindsGiveZero) {
  for (int32_t kind : {2, 3, 100, -1}) EXPECT_EQ(ComputeCheckValue(kCheck, 9, kind), 0u) << kind;
}

TEST(XorBytes, AllSizesAndInPlaceOnEitherInput) {
  for (int64_t n = 0; n <= 13; ++n) {
    std::vector<uint8_t> a(n), b(n), expect(n);
    for (int64_t i = 0; i < n; ++i) {
      a[i] = static_cast<uint8_t>(i * 31 + 1);
      b[i] = static_cast<uint8_t>(0xA5 ^ (i * 17));
      expect[i] = a[i] ^ b[i];
    }
    std::vector<uint8_t> out(n);
    XorBytes(a.data(), b.data(), n, out.data());
    EXPECT_EQ(out, expect);
    std::vector<uint8_t> a2 = a, b2 = b;
    XorBytes(a2.data(), b.data(), n, a2.data());
    EXPECT_EQ(a2, expect);
    XorBytes(a.data(), b2.data(), n, b2.data());
    EXPECT_EQ(b2, expect);
  }
}

TEST(MixSeedBuffer, ZeroBufferYieldsTopBytesOfTheSequence) {
  uint8_t buf[16] = {};
  const uint32_t seed = 0x12345678u;
  const uint32_t end = MixSeedBuffer(seed, buf, sizeof buf);
  uint32_t s = seed;
  for (size_t i = 0; i < sizeof buf; ++i) {
    s = s * 0x08088405u + 1u;  // a zero byte leaves the low byte as it is
    EXPECT_EQ(buf[i], s >> 24) << i;
  }
  EXPECT_EQ(end, s);
}

TEST(MixSeedBuffer, DeterministicAndEveryOldByteFeedsIn) {
  uint8_t a[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  uint8_t b[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(MixSeedBuffer(99, a, 8), MixSeedBuffer(99, b, 8));
  EXPECT_EQ(0, std::memcmp(a, b, 8));
  uint8_t c[8] = {1, 2, 3, 4, 5, 6, 7, 9};
  uint8_t d[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_NE(MixSeedBuffer(99, c, 8), MixSeedBuffer(99, d, 8));
  EXPECT_EQ(MixSeedBuffer(7, nullptr, 8), 7u);
  EXPECT_EQ(MixSeedBuffer(7, c, 0), 7u);
}

TEST(ClockSeed, TimeOfDayXorCounterHalves) {
  os::testing::TFakeClock clock;
  clock.Now = os::SystemTimeToFileTime(os::TSystemTime{2024, 5, 0, 6, 13, 14, 15, 678});
  clock.Counter = 0x0000000500000003LL;
  os::TScopedService<os::IClock> scoped(clock);
  const uint32_t t = ((13u * 60 + 14) * 60 + 15) * 1000 + 678;
  EXPECT_EQ(ClockSeed(), t ^ 0x3u ^ 0x5u);
}

}  // namespace
}  // namespace zk
