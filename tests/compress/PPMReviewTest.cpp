// The PPM coder against coded streams worked out by a second, separate model
// of the coder: inputs that run through rescaling, dropped entries, the
// sub-allocator's free lists and split blocks, and restarts of the model when
// a small model memory runs out. Each input is made here from a fixed seed; the
// expected length and CRC-32 of the coded bytes come from that second model.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "container/compress/PPMCoder.h"

namespace zk {
namespace {

using Bytes = std::vector<uint8_t>;

uint32_t NextSeed(uint32_t x) {
  return x * 1103515245u + 12345u;
}

Bytes Words(size_t n, uint32_t seed) {
  static const char* const words[] = {"the",    "model", "escape", "context", "of",     "a",
                                      "symbol", "range", "coder",  "order",   "memory", "unit",
                                      "\r\n",   "and",   "is",     "to",      "in",     "block"};
  constexpr uint32_t count = sizeof(words) / sizeof(words[0]);
  Bytes out;
  uint32_t x = seed;
  while (out.size() < n) {
    x = NextSeed(x);
    const std::string w = words[(x >> 16) % count];
    out.insert(out.end(), w.begin(), w.end());
    out.push_back(' ');
  }
  out.resize(n);
  return out;
}

Bytes Noise(size_t n, uint32_t seed) {
  Bytes out(n);
  uint32_t x = seed;
  for (auto& b : out) {
    x = NextSeed(x);
    b = static_cast<uint8_t>(x >> 24);
  }
  return out;
}

Bytes Runs(size_t n, uint32_t seed) {
  Bytes out;
  uint32_t x = seed;
  while (out.size() < n) {
    x = NextSeed(x);
    const auto b = static_cast<uint8_t>(((x >> 24) & 3) * 85);
    x = NextSeed(x);
    out.insert(out.end(), (x >> 16) % 300 + 1, b);
  }
  out.resize(n);
  return out;
}

// Text, noise and runs in turn.
Bytes Mix(size_t n, uint32_t seed) {
  Bytes out;
  for (uint32_t k = 0; out.size() < n; ++k) {
    for (const Bytes& part :
         {Words(3000, seed + k), Noise(500, seed + k + 1000), Runs(700, seed + k + 2000)}) {
      out.insert(out.end(), part.begin(), part.end());
    }
  }
  out.resize(n);
  return out;
}

uint32_t Crc32(const Bytes& data) {
  uint32_t crc = 0xFFFFFFFFu;
  for (uint8_t b : data) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

struct TCase {
  const char* Name;
  Bytes (*Make)(size_t, uint32_t);
  size_t Size;
  uint32_t Seed;
  int Order;
  int MemoryMB;
  size_t CodedSize;
  uint32_t CodedCrc;
  int Restarts;
};

TEST(PPMReview, CodedBytesMatchASecondModelOfTheCoder) {
  const TCase cases[] = {
      {"words", Words, 300000, 7, 5, 1, 32633, 0x21F3CF60u, 0},
      {"noise", Noise, 120000, 3, 3, 1, 122371, 0xA40A49D4u, 3},
      {"noise", Noise, 200000, 4, 13, 2, 204426, 0x80650AC0u, 3},
      {"runs", Runs, 200000, 11, 2, 1, 1638, 0x6CDB9084u, 0},
      {"mix", Mix, 150000, 1, 8, 1, 30824, 0xD48FD95Fu, 0},
      {"mix", Mix, 100000, 5, 4, 1, 20548, 0xF3E5C83Eu, 0},
      {"words", Words, 100000, 9, 13, 2, 11832, 0x72021995u, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.Name) + " order " + std::to_string(c.Order) + " memory " +
                 std::to_string(c.MemoryMB));
    const Bytes data = c.Make(c.Size, c.Seed);
    TPPMModel encoder(c.Order, c.MemoryMB);
    Bytes coded;
    coded.resize(encoder.Encode(data.data(), data.size(), coded, 0));
    EXPECT_EQ(coded.size(), c.CodedSize);
    EXPECT_EQ(Crc32(coded), c.CodedCrc);
    EXPECT_EQ(encoder.Restarts(), c.Restarts);

    TPPMModel decoder(c.Order, c.MemoryMB);
    Bytes out(data.size());
    ASSERT_EQ(decoder.Decode(coded.data(), coded.size(), out), data.size());
    EXPECT_TRUE(out == data);
  }
}

}  // namespace
}  // namespace zk
