// The PPM coder: the known coded bytes, round trips at every order, the
// restart path, and damaged or hostile coded data.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "container/compress/PPMCoder.h"
#include "container/compress/SFSCompress.h"

namespace zk {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes ToBytes(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

Bytes PPMCompress(const Bytes& in, int order, int memoryMB) {
  Bytes out(in.size() + in.size() / 20 + 50, 0);
  const int32_t n =
      PPMCompressBuf(in.data(), static_cast<int32_t>(in.size()), out, order, memoryMB);
  out.resize(static_cast<size_t>(n));
  return out;
}

// Decodes into a buffer of exactly `expected` bytes; -1 when the call fails.
int32_t PPMDecompress(const Bytes& coded, size_t expected, Bytes& out) {
  out.assign(expected, 0);
  return PPMDecompressBuf(coded.data(), static_cast<int32_t>(coded.size()), out);
}

TEST(PPMCoder, AbcAtOrderThreeGivesTheKnownBytes) {
  const Bytes coded = PPMCompress(ToBytes("abc"), 3, 10);
  EXPECT_EQ(coded, (Bytes{0x92, 0x60, 0x00, 0x00, 0xB4, 0x1C, 0x94, 0x81, 0x06, 0xE2, 0xC4, 0x00}));
  Bytes out;
  ASSERT_EQ(PPMDecompress(coded, 3, out), 3);
  EXPECT_EQ(out, ToBytes("abc"));
}

TEST(PPMCoder, AbcAtOrdersFiveAndThirteenGivesTheSameCodedBytes) {
  const Bytes expected{0xB4, 0x1C, 0x94, 0x81, 0x06, 0xE2, 0xC4, 0x00};
  for (auto [order, memory] : {std::pair{5, 25}, std::pair{13, 50}}) {
    const Bytes coded = PPMCompress(ToBytes("abc"), order, memory);
    ASSERT_EQ(coded.size(), 12u) << order;
    EXPECT_EQ(Bytes(coded.begin() + 4, coded.end()), expected) << order;
    const uint32_t info = PPMInfoWord(order, memory);
    EXPECT_EQ(coded[0], info & 0xFF);
    EXPECT_EQ(coded[1], (info >> 8) & 0xFF);
    Bytes out;
    ASSERT_EQ(PPMDecompress(coded, 3, out), 3) << order;
    EXPECT_EQ(out, ToBytes("abc"));
  }
}

TEST(PPMCoder, EmptyInputCodesOnlyTheEndMark) {
  const Bytes coded = PPMCompress({}, 3, 10);
  ASSERT_EQ(coded.size(), 9u);
  EXPECT_EQ(Bytes(coded.begin() + 4, coded.end()), (Bytes{0xFF, 0x86, 0x07, 0x8D, 0x00}));
  Bytes out;
  EXPECT_EQ(PPMDecompress(coded, 10, out), 0);
}

}  // namespace
}  // namespace zk
