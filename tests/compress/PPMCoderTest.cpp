// The PPM coder: the known coded bytes, round trips at every order, the
// restart path when model memory runs out, the growing output buffer, and
// truncated, damaged or hostile coded data.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "container/compress/PPMCoder.h"
#include "container/compress/SFSCompress.h"
#include "tests/compress/CompressTestData.h"

namespace zk {
namespace {

using testing::Bytes;
using testing::LongRuns;
using testing::MixedText;
using testing::RandomBytes;
using testing::ToBytes;

Bytes PPMCompress(const Bytes& in, int order, int memoryMB) {
  Bytes out(in.size() + in.size() / 20 + 50, 0);
  const int32_t n =
      PPMCompressBuf(in.data(), static_cast<int32_t>(in.size()), out, order, memoryMB);
  out.resize(static_cast<size_t>(n));
  return out;
}

// Decodes into a buffer of exactly `expected` bytes.
int32_t PPMDecompress(const Bytes& coded, size_t expected, Bytes& out) {
  out.assign(expected, 0);
  const int32_t n = PPMDecompressBuf(coded.data(), static_cast<int32_t>(coded.size()), out);
  out.resize(static_cast<size_t>(n));
  return n;
}

Bytes WithInfoWord(uint32_t info, const Bytes& coded) {
  Bytes out(4 + coded.size());
  for (size_t i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(info >> (8 * i));
  std::copy(coded.begin(), coded.end(), out.begin() + 4);
  return out;
}

// --- Known coded bytes --------------------------------------------------------

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
    EXPECT_EQ(coded, WithInfoWord(PPMInfoWord(order, memory), expected)) << order;
    Bytes out;
    ASSERT_EQ(PPMDecompress(coded, 3, out), 3) << order;
    EXPECT_EQ(out, ToBytes("abc"));
  }
}

TEST(PPMCoder, EmptyInputCodesOnlyTheEndMark) {
  const Bytes coded = PPMCompress({}, 3, 10);
  EXPECT_EQ(coded, WithInfoWord(0x6092, {0xFF, 0x86, 0x07, 0x8D, 0x00}));
  Bytes out;
  EXPECT_EQ(PPMDecompress(coded, 10, out), 0);
}

TEST(PPMCoder, InfoWordHoldsOrderMemoryAndVariant) {
  EXPECT_EQ(PPMInfoWord(3, 10), 0x6092u);
  EXPECT_EQ(PPMInfoWord(5, 25), 0x6184u);
  EXPECT_EQ(PPMInfoWord(13, 50), 0x631Cu);
  EXPECT_EQ(PPMInfoWord(1, 1), 0x6000u);
  EXPECT_EQ(PPMInfoWord(16, 256), 0x6FFFu);
}

// --- Round trips ---------------------------------------------------------------

struct TInput {
  const char* Name;
  Bytes Data;
};

std::vector<TInput> VariedInputs() {
  // Each symbol once, shuffled, several times: nearly every symbol escapes and
  // is found in a shorter context, so the mask stamp wraps and is cleared.
  Bytes permutations;
  std::mt19937 rng(9);
  for (int i = 0; i < 6; ++i) {
    Bytes p(256);
    std::iota(p.begin(), p.end(), 0);
    std::shuffle(p.begin(), p.end(), rng);
    permutations.insert(permutations.end(), p.begin(), p.end());
  }
  // One frequent symbol with rare ones after the same context: rescaling at
  // the top order drops the entries whose frequency halves to 0.
  Bytes skewed;
  for (int i = 0; i < 8000; ++i) {
    skewed.push_back('x');
    skewed.push_back(rng() % 50 == 0 ? static_cast<uint8_t>(rng()) : 'a');
  }
  return {{"text", MixedText(20000)}, {"random", RandomBytes(4000)}, {"runs", LongRuns(40000)},
          {"one byte", {0x41}},       {"two bytes", {0, 0}},         {"permutations", permutations},
          {"skewed", skewed}};
}

TEST(PPMCoder, RoundTripsAtEveryOrder) {
  const std::vector<TInput> inputs = VariedInputs();
  for (int order = 1; order <= 16; ++order) {
    for (const TInput& input : inputs) {
      const Bytes coded = PPMCompress(input.Data, order, 10);
      ASSERT_GT(coded.size(), 4u) << input.Name << " at order " << order;
      Bytes out;
      ASSERT_EQ(PPMDecompress(coded, input.Data.size(), out),
                static_cast<int32_t>(input.Data.size()))
          << input.Name << " at order " << order;
      ASSERT_EQ(out, input.Data) << input.Name << " at order " << order;
    }
  }
}

TEST(PPMCoder, CompressesTextAndRunsWell) {
  // A coder that modelled nothing would not come near these ratios.
  const Bytes text = MixedText(200000);
  EXPECT_LT(PPMCompress(text, 5, 25).size(), text.size() / 4);
  const Bytes runs = LongRuns(200000);
  EXPECT_LT(PPMCompress(runs, 3, 10).size(), runs.size() / 50);
}

// Several MiB through 1 MiB of model memory: the model runs out of memory and
// restarts many times, at the same symbols in the encoder and the decoder.
TEST(PPMCoder, RestartsWhenModelMemoryRunsOut) {
  Bytes data = MixedText(3 << 20);
  const Bytes noise = RandomBytes(1 << 20);
  for (size_t at = 0; at + 4096 <= noise.size(); at += 3 * 4096) {
    std::copy(noise.begin() + at, noise.begin() + at + 4096, data.begin() + 3 * at);
  }
  const int order = 13;
  TPPMModel encoder(order, 1);
  Bytes coded;
  const size_t end = encoder.Encode(data.data(), data.size(), coded, 0);
  coded.resize(end);
  EXPECT_GE(encoder.Restarts(), 10);

  TPPMModel decoder(order, 1);
  Bytes out(data.size());
  ASSERT_EQ(decoder.Decode(coded.data(), coded.size(), out), data.size());
  EXPECT_EQ(decoder.Restarts(), encoder.Restarts());
  EXPECT_TRUE(out == data);
}

// --- The encoder's output buffer ------------------------------------------------

TEST(PPMCoder, EncoderGrowsATooSmallOutputBuffer) {
  for (const Bytes& in : {RandomBytes(20000), MixedText(20000)}) {
    const Bytes reference = PPMCompress(in, 5, 25);
    for (size_t start : {0u, 100u}) {
      Bytes out(start, 0xEE);
      const int32_t n = PPMCompressBuf(in.data(), static_cast<int32_t>(in.size()), out, 5, 25);
      ASSERT_EQ(n, static_cast<int32_t>(reference.size())) << start;
      out.resize(static_cast<size_t>(n));
      EXPECT_EQ(out, reference) << start;
    }
  }
}

TEST(PPMCoder, RefusesParametersOutsideTheInfoWord) {
  const Bytes in = ToBytes("abc");
  for (auto [order, memory] : {std::pair{0, 10}, std::pair{17, 10}, std::pair{3, 0},
                               std::pair{3, 257}, std::pair{-1, -1}}) {
    Bytes out(64);
    EXPECT_EQ(PPMCompressBuf(in.data(), 3, out, order, memory), 0) << order << " " << memory;
  }
}

// Each coding call owns its model: two threads code at once and give the same
// bytes as one thread alone.
TEST(PPMCoder, TwoThreadsCodeAtOnce) {
  const Bytes a = MixedText(60000, 11);
  const Bytes b = RandomBytes(30000, 12);
  const Bytes codedA = PPMCompress(a, 13, 50);
  const Bytes codedB = PPMCompress(b, 3, 10);
  Bytes parallelA, parallelB, backA, backB;
  std::thread t1([&] {
    parallelA = PPMCompress(a, 13, 50);
    PPMDecompress(parallelA, a.size(), backA);
  });
  std::thread t2([&] {
    parallelB = PPMCompress(b, 3, 10);
    PPMDecompress(parallelB, b.size(), backB);
  });
  t1.join();
  t2.join();
  EXPECT_EQ(parallelA, codedA);
  EXPECT_EQ(parallelB, codedB);
  EXPECT_TRUE(backA == a);
  EXPECT_TRUE(backB == b);
}

// --- Bounded decoder --------------------------------------------------------------

TEST(PPMCoder, DecoderNeedsTheInfoWordAndFourCodedBytes) {
  const Bytes coded = PPMCompress(ToBytes("abc"), 3, 10);
  for (size_t n = 0; n < 8; ++n) {
    Bytes out(16);
    EXPECT_EQ(PPMDecompressBuf(coded.data(), static_cast<int32_t>(n), out), 0) << n;
  }
  Bytes out(16);
  EXPECT_EQ(PPMDecompressBuf(nullptr, 12, out), 0);
}

TEST(PPMCoder, EveryTruncationFails) {
  const Bytes in = MixedText(2000);
  const Bytes coded = PPMCompress(in, 5, 25);
  for (size_t n = 0; n < coded.size(); ++n) {
    Bytes out(in.size());
    ASSERT_EQ(PPMDecompressBuf(coded.data(), static_cast<int32_t>(n), out), 0) << n;
  }
}

TEST(PPMCoder, ValidStreamIsReadOnlyToItsEnd) {
  const Bytes in = MixedText(5000);
  Bytes coded = PPMCompress(in, 13, 50);
  coded.insert(coded.end(), {0xDE, 0xAD, 0xBE, 0xEF, 0x00});
  Bytes out;
  ASSERT_EQ(PPMDecompress(coded, in.size(), out), static_cast<int32_t>(in.size()));
  EXPECT_EQ(out, in);
}

TEST(PPMCoder, DecoderNeverWritesBeyondTheExpectedSize) {
  const Bytes in = MixedText(10000);
  const Bytes coded = PPMCompress(in, 5, 25);
  for (size_t expected : {size_t{0}, size_t{1}, in.size() / 2, in.size() - 1}) {
    Bytes out(expected + 64, 0x5A);
    const int32_t n = PPMDecompressBuf(coded.data(), static_cast<int32_t>(coded.size()),
                                       std::span<uint8_t>(out.data(), expected));
    EXPECT_EQ(n, 0) << expected;
    EXPECT_TRUE(std::all_of(out.begin() + static_cast<ptrdiff_t>(expected), out.end(),
                            [](uint8_t v) { return v == 0x5A; }))
        << expected;
  }
  Bytes out;
  EXPECT_EQ(PPMDecompress(coded, in.size() + 100, out), static_cast<int32_t>(in.size()));
}

TEST(PPMCoder, RefusesAVariantOtherThanSix) {
  const Bytes coded = PPMCompress(ToBytes("hello, hello"), 3, 10);
  for (uint8_t variant = 0; variant < 16; ++variant) {
    if (variant == 6) continue;
    Bytes bad = coded;
    bad[1] = static_cast<uint8_t>((bad[1] & 0x0F) | (variant << 4));
    Bytes out;
    EXPECT_EQ(PPMDecompress(bad, 100, out), 0) << int{variant};
  }
}

TEST(PPMCoder, LargestModelInTheInfoWordWorksOrFailsCleanly) {
  // Order 16 with 256 MiB is the most an info word can ask for.
  const Bytes in = MixedText(20000);
  const Bytes coded = PPMCompress(in, 16, 256);
  ASSERT_GT(coded.size(), 4u);
  Bytes out;
  ASSERT_EQ(PPMDecompress(coded, in.size(), out), static_cast<int32_t>(in.size()));
  EXPECT_EQ(out, in);
  // The same word in front of noise.
  Bytes noise = WithInfoWord(0x6FFF, RandomBytes(4000, 77));
  EXPECT_LE(PPMDecompress(noise, 1000, out), 1000);
}

// Noise behind a valid info word, and single damaged bytes in a valid stream:
// the decoder ends (the input or the output bound runs out), never reads or
// writes out of bounds, and never produces more than asked.
TEST(PPMCoder, HostileCodedDataEndsWithinBounds) {
  std::mt19937 rng(31);
  for (int i = 0; i < 100; ++i) {
    const uint32_t info = PPMInfoWord(static_cast<int>(1 + rng() % 16), 1 + rng() % 4);
    const Bytes in = WithInfoWord(info, RandomBytes(8 + rng() % 3000, rng()));
    Bytes out;
    EXPECT_LE(PPMDecompress(in, 2000, out), 2000);
  }
  const Bytes text = MixedText(3000);
  const Bytes coded = PPMCompress(text, 5, 25);
  for (size_t at = 4; at < coded.size(); at += 3) {
    Bytes bad = coded;
    bad[at] ^= static_cast<uint8_t>(1 + rng() % 255);
    Bytes out;
    EXPECT_LE(PPMDecompress(bad, text.size(), out), static_cast<int32_t>(text.size()));
  }
}

}  // namespace
}  // namespace zk
