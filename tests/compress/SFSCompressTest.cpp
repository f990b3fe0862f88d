// Whole-buffer compression by method code, the zlib and bzip2 glue with their
// exceptions, and the bounds of the decoders on truncated, damaged or
// oversized streams.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <string>
#include <vector>

#include "container/compress/SFSBZip2.h"
#include "container/compress/SFSCompress.h"
#include "container/compress/SFSZlib.h"
#include "tests/compress/CompressTestData.h"

extern "C" void BZ2_bz__AssertH__fail(int errcode);
extern "C" void bz_internal_error(int errcode);

namespace zk {
namespace {

using testing::Bytes;
using testing::LongRuns;
using testing::MixedText;
using testing::RandomBytes;
using testing::ToBytes;

Bytes Compress(const Bytes& in, uint8_t method) {
  Bytes out;
  int32_t size = -1;
  EXPECT_TRUE(CompressBuffer(in.data(), static_cast<int32_t>(in.size()), out, method, size))
      << int{method};
  EXPECT_EQ(size, static_cast<int32_t>(out.size()));
  return out;
}

// DecompressBuffer with the expected size; OutSize is returned in `size`.
bool Decompress(const Bytes& in, uint8_t method, int32_t expected, Bytes& out, int32_t& size) {
  size = expected;
  return DecompressBuffer(in.data(), static_cast<int32_t>(in.size()), out, method, size);
}

bool IsPPM(uint8_t method) {
  return method == 3 || method == 4 || method == 6;
}

// --- Method table ------------------------------------------------------------------

TEST(CompressMethods, BlockSizeOfEveryCode) {
  const int32_t expected[10] = {1048576, 524288, 1048576, 1048576, 1572864,
                                1572864, 524288, 524288,  1048576, 1572864};
  for (int m = 0; m < 256; ++m) {
    EXPECT_EQ(BlockSizeForMethod(static_cast<uint8_t>(m)), m < 10 ? expected[m] : 1048576) << m;
  }
}

TEST(CompressMethods, EmptyInputIsRefusedByEveryMethod) {
  const Bytes in = ToBytes("x");
  for (int m = 0; m < 256; ++m) {
    Bytes out{1, 2, 3};
    int32_t size = 99;
    EXPECT_FALSE(CompressBuffer(in.data(), 0, out, static_cast<uint8_t>(m), size)) << m;
    EXPECT_EQ(size, 0);
    EXPECT_TRUE(out.empty());
  }
}

TEST(CompressMethods, CodesFromTenOnAreRefused) {
  const Bytes in = ToBytes("some bytes");
  for (int m = 10; m < 256; ++m) {
    Bytes out;
    int32_t size = 0;
    EXPECT_FALSE(CompressBuffer(in.data(), 10, out, static_cast<uint8_t>(m), size)) << m;
    size = 10;
    EXPECT_FALSE(DecompressBuffer(in.data(), 10, out, static_cast<uint8_t>(m), size)) << m;
  }
}

TEST(CompressMethods, ExpectedSizeOfZeroOrLessIsRefusedWithoutReadingTheData) {
  for (int m = 0; m < 10; ++m) {
    for (int32_t expected : {0, -1, INT32_MIN}) {
      Bytes out;
      int32_t size = expected;
      // The data pointer is not valid: nothing may read it.
      EXPECT_FALSE(DecompressBuffer(nullptr, 1000, out, static_cast<uint8_t>(m), size)) << m;
    }
  }
}

TEST(CompressMethods, StoredCopyKeepsTheBytes) {
  const Bytes in = MixedText(1000);
  const Bytes coded = Compress(in, 0);
  EXPECT_EQ(coded, in);
  Bytes out;
  int32_t size;
  ASSERT_TRUE(Decompress(coded, 0, 1000, out, size));
  EXPECT_EQ(size, 1000);
  EXPECT_EQ(out, in);
}

// --- Round trips -------------------------------------------------------------------

TEST(CompressMethods, EveryMethodRoundTripsVariedData) {
  const struct {
    const char* Name;
    Bytes Data;
  } inputs[] = {{"text", MixedText(100000)},
                {"random", RandomBytes(70000)},
                {"runs", LongRuns(200000)},
                {"one byte", {0x7F}},
                {"full block", MixedText(1572864, 5)}};
  for (int m = 0; m < 10; ++m) {
    const auto method = static_cast<uint8_t>(m);
    for (const auto& input : inputs) {
      const Bytes coded = Compress(input.Data, method);
      Bytes out;
      int32_t size;
      ASSERT_TRUE(Decompress(coded, method, static_cast<int32_t>(input.Data.size()), out, size))
          << input.Name << " method " << m;
      EXPECT_EQ(size, static_cast<int32_t>(input.Data.size())) << input.Name << " method " << m;
      EXPECT_TRUE(out == input.Data) << input.Name << " method " << m;
      if (m != 0 && input.Data.size() > 1000 && input.Name != std::string("random")) {
        EXPECT_LT(coded.size(), input.Data.size() / 2) << input.Name << " method " << m;
      }
    }
  }
}

TEST(CompressMethods, StreamsStartWithTheirFormatHeader) {
  const Bytes in = MixedText(5000);
  for (uint8_t m : {1, 2, 5}) EXPECT_EQ(Compress(in, m)[0], 0x78) << int{m};
  for (auto [m, digit] : {std::pair<uint8_t, uint8_t>{7, '2'}, {8, '6'}, {9, '9'}}) {
    const Bytes coded = Compress(in, m);
    EXPECT_EQ(Bytes(coded.begin(), coded.begin() + 4), (Bytes{0x42, 0x5A, 0x68, digit})) << int{m};
  }
  const std::pair<uint8_t, Bytes> ppm[] = {
      {3, {0x84, 0x61, 0x00, 0x00}}, {4, {0x1C, 0x63, 0x00, 0x00}}, {6, {0x92, 0x60, 0x00, 0x00}}};
  for (const auto& [m, word] : ppm) {
    const Bytes coded = Compress(in, m);
    EXPECT_EQ(Bytes(coded.begin(), coded.begin() + 4), word) << int{m};
  }
}

TEST(CompressMethods, AbcWithMethodSixGivesTheKnownBytes) {
  const Bytes coded = Compress(ToBytes("abc"), 6);
  EXPECT_EQ(coded, (Bytes{0x92, 0x60, 0x00, 0x00, 0xB4, 0x1C, 0x94, 0x81, 0x06, 0xE2, 0xC4, 0x00}));
  Bytes out;
  int32_t size;
  ASSERT_TRUE(Decompress(coded, 6, 3, out, size));
  EXPECT_EQ(out, ToBytes("abc"));
}

TEST(CompressMethods, CompressorOutputGrowsBeyondItsFirstCapacity) {
  // 200 random bytes: the first capacity is 256 bytes, bzip2 needs more.
  const Bytes in = RandomBytes(200, 8);
  for (uint8_t m : {7, 9}) {
    const Bytes coded = Compress(in, m);
    EXPECT_GT(coded.size(), 256u);
    Bytes out;
    int32_t size;
    ASSERT_TRUE(Decompress(coded, m, 200, out, size));
    EXPECT_EQ(out, in);
  }
}

// --- Bounded decoders ----------------------------------------------------------

TEST(CompressMethods, TruncatedStreamsAreRefused) {
  const Bytes in = MixedText(20000);
  for (int m = 1; m < 10; ++m) {
    const auto method = static_cast<uint8_t>(m);
    const Bytes coded = Compress(in, method);
    for (size_t n = 0; n < coded.size(); n += (n < 16 || n + 16 > coded.size()) ? 1 : 97) {
      const Bytes cut(coded.begin(), coded.begin() + static_cast<ptrdiff_t>(n));
      Bytes out{9};
      int32_t size;
      EXPECT_FALSE(Decompress(cut, method, 20000, out, size)) << m << " cut at " << n;
      EXPECT_EQ(size, 0);
      EXPECT_TRUE(out.empty());
    }
  }
}

TEST(CompressMethods, DamagedZlibAndBZip2StreamsAreRefused) {
  const Bytes in = MixedText(20000);
  for (uint8_t m : {1, 2, 5, 7, 8, 9}) {
    const Bytes coded = Compress(in, m);
    for (size_t at = 10; at + 10 < coded.size(); at += coded.size() / 17) {
      Bytes bad = coded;
      bad[at] ^= 0x10;
      Bytes out;
      int32_t size;
      EXPECT_FALSE(Decompress(bad, m, 20000, out, size)) << int{m} << " at " << at;
    }
  }
}

TEST(CompressMethods, DamagedPPMStreamsStayWithinTheExpectedSize) {
  // PPM data has no check of its own (the block stream's CRC catches it).
  const Bytes in = MixedText(5000);
  for (uint8_t m : {3, 4, 6}) {
    const Bytes coded = Compress(in, m);
    for (size_t at = 4; at < coded.size(); at += 19) {
      Bytes bad = coded;
      bad[at] ^= 0x5A;
      Bytes out;
      int32_t size;
      if (Decompress(bad, m, 5000, out, size)) {
        EXPECT_LE(size, 5000);
        EXPECT_EQ(out.size(), static_cast<size_t>(size));
      }
    }
  }
}

TEST(CompressMethods, DecodersStopAtTheExpectedSize) {
  const Bytes in = MixedText(30000);
  const auto n = static_cast<int32_t>(in.size());
  for (int m = 1; m < 10; ++m) {
    const auto method = static_cast<uint8_t>(m);
    const Bytes coded = Compress(in, method);
    Bytes out;
    int32_t size;
    // More room than needed: the size produced comes back.
    ASSERT_TRUE(Decompress(coded, method, n + 1000, out, size)) << m;
    EXPECT_EQ(size, n);
    if (IsPPM(method)) {
      // The PPM decoder never goes past the expected size.
      EXPECT_FALSE(Decompress(coded, method, n - 1, out, size)) << m;
    } else {
      // zlib and bzip2 may produce one byte more, so that the caller sees a
      // wrong size rather than a failure; any more fails.
      ASSERT_TRUE(Decompress(coded, method, n - 1, out, size)) << m;
      EXPECT_EQ(size, n);
      EXPECT_FALSE(Decompress(coded, method, n - 2, out, size)) << m;
    }
    EXPECT_FALSE(Decompress(coded, method, 100, out, size)) << m;
    EXPECT_TRUE(out.empty());
  }
}

TEST(CompressMethods, HugeExpansionIsCutOffAtTheExpectedSize) {
  // 16 MiB of zeros make a small stream; the decoder must not follow it.
  const Bytes zeros(16 << 20, 0);
  for (uint8_t m : {5, 9}) {
    const Bytes coded = Compress(zeros, m);
    ASSERT_LT(coded.size(), 40000u);
    Bytes out;
    int32_t size;
    EXPECT_FALSE(Decompress(coded, m, 4096, out, size)) << int{m};
  }
}

TEST(CompressMethods, GarbageIsRefusedByEveryCodec) {
  for (uint32_t seed = 0; seed < 30; ++seed) {
    const Bytes noise = RandomBytes(1 + seed * 37, seed);
    for (int m = 1; m < 10; ++m) {
      Bytes out;
      int32_t size;
      const bool ok = Decompress(noise, static_cast<uint8_t>(m), 3000, out, size);
      if (!IsPPM(static_cast<uint8_t>(m))) {
        EXPECT_FALSE(ok) << m;
      }
      EXPECT_LE(size, 3000);
    }
  }
}

// --- The glue and its exceptions --------------------------------------------------

TEST(CompressGlue, ZlibErrorsRaiseTheirClassesWithTheirMessage) {
  Bytes out{1};
  int32_t size = 5;
  const Bytes noise = ToBytes("this is not a zlib stream");
  try {
    ZDecompressBuf(noise.data(), static_cast<int32_t>(noise.size()), 100, out, size);
    FAIL() << "no exception";
  } catch (const EDecompressionError& e) {
    EXPECT_EQ(e.Message, "error");
    EXPECT_TRUE(dynamic_cast<const EZlibError*>(&e) != nullptr);
  }
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(size, 0);
  // An empty input once gave a growth step of 0 and never ended.
  EXPECT_THROW(ZDecompressBuf(nullptr, 0, 0, out, size), EDecompressionError);
  EXPECT_THROW(ZDecompressBuf(nullptr, 0, 100, out, size), EDecompressionError);
  try {
    ZCompressBuf(noise.data(), 5, out, size, 42);
    FAIL() << "no exception";
  } catch (const ECompressionError& e) {
    EXPECT_EQ(e.Message, "error");
  }
}

TEST(CompressGlue, BZip2ErrorsRaiseTheirClassesWithTheCode) {
  Bytes out{1};
  int32_t size = 5;
  const Bytes noise = ToBytes("this is not a bzip2 stream");
  try {
    BZDecompressBuf(noise.data(), static_cast<int32_t>(noise.size()), 100, out, size);
    FAIL() << "no exception";
  } catch (const EBZDecompressionError& e) {
    EXPECT_EQ(e.Message, "error -5");  // not the bzip2 signature
    EXPECT_TRUE(dynamic_cast<const EBZip2Error*>(&e) != nullptr);
  }
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(size, 0);
  // libbz2 answers a truncated stream with "more input, please".
  const Bytes in = MixedText(3000);
  Bytes coded;
  BZCompressBuf(in.data(), 3000, coded, size, 9);
  EXPECT_THROW(BZDecompressBuf(coded.data(), size - 1, 3000, out, size), EBZDecompressionError);
  EXPECT_THROW(BZDecompressBuf(nullptr, 0, 0, out, size), EBZDecompressionError);
  try {
    BZCompressBuf(in.data(), 3000, out, size, 0);
    FAIL() << "no exception";
  } catch (const EBZCompressionError& e) {
    EXPECT_EQ(e.Message, "error -2");  // a bad parameter
  }
}

TEST(CompressGlue, DecodersWithoutAnEstimateGrowInSteps) {
  const Bytes in = MixedText(100000);
  Bytes coded, out;
  int32_t size;
  ZCompressBuf(in.data(), 100000, coded, size, 9);
  ZDecompressBuf(coded.data(), size, 0, out, size);
  EXPECT_EQ(out, in);
  BZCompressBuf(in.data(), 100000, coded, size, 2);
  BZDecompressBuf(coded.data(), size, 0, out, size);
  EXPECT_EQ(out, in);
}

TEST(CompressGlue, BZip2InternalErrorsRaiseEBZip2Error) {
  try {
    BZInternalError(1007);
    FAIL() << "no exception";
  } catch (const EBZip2Error& e) {
    EXPECT_EQ(e.Message, "Compression Error 1007");
  }
  EXPECT_THROW(bz_internal_error(3001), EBZip2Error);
  EXPECT_THROW(BZ2_bz__AssertH__fail(4001), EBZip2Error);
  // The library reaches its handler through the dynamic linker: it must find
  // this program's handler, not its own one that ends the process.
  EXPECT_EQ(dlsym(RTLD_DEFAULT, "BZ2_bz__AssertH__fail"),
            reinterpret_cast<void*>(&BZ2_bz__AssertH__fail));
}

}  // namespace
}  // namespace zk
