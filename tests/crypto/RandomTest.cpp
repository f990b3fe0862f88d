#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "container/crypto/CheckValue.h"
#include "container/crypto/Random.h"
#include "container/crypto/StringFormat.h"
#include "platform/os/testing/FakeClock.h"

namespace zk {
namespace {

const AnsiString kSeed =
    "The quick brown fox jumps over the lazy dog, then sleeps for a while under the big old oak "
    "tree.";

std::vector<uint8_t> Draw(TRandom& r, int32_t n) {
  std::vector<uint8_t> out(static_cast<size_t>(n));
  r.FillRandom(out.data(), n);
  return out;
}

template <class F>
std::string RandomMessage(F f) {
  try {
    f();
  } catch (const ERandom& e) {
    return e.Message;
  }
  return "<no error>";
}

TEST(RandomLFSR, RegisterSizesFromTheTable) {
  struct Row {
    int32_t ask, bits;
  };
  const Row rows[] = {{2032, 2032}, {5000, 2032}, {2031, 1232}, {100, 96}, {96, 96},  {20, 128},
                      {0, 128},     {-5, 128},    {32, 32},     {33, 32},  {128, 128}};
  for (const Row& r : rows) {
    TRandom_LFSR g("", r.ask);
    EXPECT_EQ(g.RegisterSize(), r.bits) << r.ask;
    EXPECT_EQ(g.LastIndex(), r.bits / 8 - 1) << r.ask;
    g.SetRegisterSize(r.ask);  // same request again
    EXPECT_EQ(g.RegisterSize(), r.bits);
  }
  EXPECT_EQ(LfsrSizes.size(), 34u);
  for (size_t i = 1; i < LfsrSizes.size(); ++i) EXPECT_LT(LfsrSizes[i - 1].Bits, LfsrSizes[i].Bits);
}

TEST(RandomLFSR, TableIsTheCarryLessProductWithTheReversedPolynomial) {
  TRandom_LFSR g("", 2032);
  const auto& t = g.LfsrTable();
  EXPECT_EQ(t[0], 0);
  EXPECT_EQ(t[1], 0xC5);  // 0xA3 reversed
  EXPECT_EQ(t[128], 0xC5 << 7);
  EXPECT_EQ(t[3], 0xC5 ^ (0xC5 << 1));
  for (unsigned a = 0; a < 256; a += 17)
    for (unsigned b = 0; b < 256; b += 23) EXPECT_EQ(t[a ^ b], t[a] ^ t[b]);  // linear
  TRandom_LFSR small("", 128);  // polynomial byte 0xE1, reversed 0x87
  EXPECT_EQ(small.LfsrTable()[1], 0x87);
  EXPECT_EQ(small.LfsrTable()[128], 0x87 << 7);
}

// The generation step, written out: b = R[P]; t = T[b]; R[P] = low t;
// R[P-1 wrapping to L] ^= high t; P = P+1 wrapping to 0; output low t, stored
// from the end of the buffer down.
void ExpectSteps(int32_t bits) {
  TRandom_LFSR g(kSeed, bits);
  auto reg = g.LfsrRegister();
  int32_t p = g.Position();
  const int32_t n = g.LastIndex() + 1;
  const auto& t = g.LfsrTable();
  const int32_t count = 3 * n + 5;  // wraps the position several times
  std::vector<uint8_t> expect(static_cast<size_t>(count));
  for (int32_t i = count - 1; i >= 0; --i) {
    const uint16_t v = t[reg[static_cast<size_t>(p)]];
    reg[static_cast<size_t>(p)] = static_cast<uint8_t>(v);
    reg[static_cast<size_t>((p + n - 1) % n)] ^= static_cast<uint8_t>(v >> 8);
    p = (p + 1) % n;
    expect[static_cast<size_t>(i)] = static_cast<uint8_t>(v);
  }
  EXPECT_EQ(Draw(g, count), expect) << bits;
  EXPECT_EQ(g.LfsrRegister(), reg);
  EXPECT_EQ(g.Position(), p);
  EXPECT_EQ(g.GeneratedCount(), count);
}

TEST(RandomLFSR, GenerationStepsIncludingTheWrapAtPositionZero) {
  ExpectSteps(2032);
  ExpectSteps(128);  // the 16-byte routine
  ExpectSteps(32);
}

TEST(RandomLFSR, FirstByteGoesToTheEndOfTheBuffer) {
  TRandom_LFSR a(kSeed, 2032), b(kSeed, 2032);
  std::vector<uint8_t> one;
  for (int i = 0; i < 40; ++i) one.push_back(Draw(a, 1)[0]);
  std::vector<uint8_t> many = Draw(b, 40);
  EXPECT_EQ(std::vector<uint8_t>(many.rbegin(), many.rend()), one);
}

TEST(RandomLFSR, SeedBytesAddIntoTheRegisterThenMix) {
  const AnsiString seed(300, '\x07');  // longer than the 254 register bytes
  TRandom_LFSR g(seed, 2032);
  std::array<uint8_t, 256> expect{};
  for (size_t j = 0; j < seed.size(); ++j)
    expect[j % 254] = static_cast<uint8_t>(expect[j % 254] + 7);
  MixSeedBuffer(BaseSeed, expect.data(), 256);
  EXPECT_EQ(g.LfsrRegister(), expect);
  EXPECT_EQ(g.Position(), 0);
  // No bytes: the basic state.
  TRandom_LFSR basic("", 2032);
  std::array<uint8_t, 256> zero{};
  MixSeedBuffer(BaseSeed, zero.data(), 256);
  EXPECT_EQ(basic.LfsrRegister(), zero);
}

TEST(RandomLFSR, FillRandomWithNothingChangesNothing) {
  TRandom_LFSR g(kSeed, 2032);
  Draw(g, 3);
  const auto reg = g.LfsrRegister();
  uint8_t b = 0x5A;
  g.FillRandom(&b, 0);
  g.FillRandom(&b, -4);
  g.FillRandom(nullptr, 10);
  EXPECT_EQ(b, 0x5A);
  EXPECT_EQ(g.GeneratedCount(), 3);
  EXPECT_EQ(g.LfsrRegister(), reg);
  EXPECT_EQ(g.Position(), 3);
}

TEST(RandomLFSR, SameSeedSameBytesUntilTheClockMixesIn) {
  TRandom_LFSR a(kSeed, 2032), b(kSeed, 2032);
  EXPECT_EQ(Draw(a, 64), Draw(b, 64));
  TRandom_LFSR c("another seed", 2032);
  TRandom_LFSR d(kSeed, 2032);
  EXPECT_NE(Draw(c, 64), Draw(d, 64));

  os::testing::TFakeClock clock;
  os::TScopedService<os::IClock> scoped(clock);
  clock.Counter = 1000;
  a.SeedFrom(nullptr, -1);
  clock.Counter = 1001;
  b.SeedFrom(nullptr, -1);
  EXPECT_NE(Draw(a, 32), Draw(b, 32));
}

TEST(RandomLFSR, ThePasswordUnitsSequence) {
  const AnsiString seed(100, 'k');
  TRandom_LFSR g(seed, 2032, false, nullptr);
  g.SeedFrom(nullptr, -1);
  uint8_t key[32] = {};
  g.FillRandom(key, 32);
  EXPECT_EQ(g.GeneratedCount(), 32);
  std::set<uint8_t> distinct(key, key + 32);
  EXPECT_GT(distinct.size(), 8u);
}

TEST(Random, RandomIntStaysInRange) {
  TRandom_LFSR g(kSeed, 2032);
  bool sawNegative = false;
  for (int i = 0; i < 2000; ++i) {
    const int32_t v = g.RandomInt(10);
    EXPECT_GE(v, 0);
    EXPECT_LE(v, 10);
    const int32_t w = g.RandomInt(-10);
    EXPECT_GE(w, -10);
    EXPECT_LE(w, 10);
    sawNegative |= w < 0;
    const int32_t m = g.RandomInt(INT32_MAX);  // no overflow in Range + 1
    EXPECT_GE(m, 0);
  }
  EXPECT_TRUE(sawNegative);
  EXPECT_EQ(g.GeneratedCount(), 2000 * 3 * 4);
}

TEST(Random, BaseGeneratorIsDeterministicAndAlways32Bits) {
  TRandom a(kSeed, 777), b(kSeed, 777);
  EXPECT_EQ(a.RegisterSize(), 32);
  EXPECT_EQ(Draw(a, 50), Draw(b, 50));
  EXPECT_EQ(a.GeneratedCount(), 50);
  TRandom c("x", 1);
  EXPECT_NE(Draw(c, 50), Draw(a, 50));
}

TEST(RandomState, TextContinuesTheSameSequence) {
  TRandom_LFSR a(kSeed, 2032);
  Draw(a, 77);
  const AnsiString text = a.GetStateText();
  EXPECT_TRUE(IsValidText(text.data(), static_cast<int64_t>(text.size()), fmtMIME64));
  const auto next = Draw(a, 300);
  TRandom_LFSR b("other", 128);
  b.SetStateText(text);
  EXPECT_EQ(b.RegisterSize(), 2032);
  EXPECT_EQ(b.GeneratedCount(), 77);
  EXPECT_EQ(Draw(b, 300), next);

  TRandom base(kSeed, 32);
  Draw(base, 5);
  const AnsiString baseText = base.GetStateText();
  const auto baseNext = Draw(base, 20);
  TRandom base2;
  base2.SetStateText(baseText);
  EXPECT_EQ(Draw(base2, 20), baseNext);
}

// Decodes a state text, lets Edit change the record, and writes the check and
// flag word again (the flag as given).
AnsiString Tampered(const AnsiString& text, void (*edit)(AnsiString&), uint16_t flag = 256) {
  AnsiString data = FormatToBytes(text, fmtMIME64);
  data.resize(data.size() - 4);
  edit(data);
  const uint16_t crc =
      static_cast<uint16_t>(~UpdateCrc16(0xFFFF, data.data(), static_cast<int64_t>(data.size())));
  data.push_back(static_cast<char>(crc));
  data.push_back(static_cast<char>(crc >> 8));
  data.push_back(static_cast<char>(flag));
  data.push_back(static_cast<char>(flag >> 8));
  return BytesToFormat(data, fmtMIME64);
}

void SetLE32(AnsiString& d, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) d[at + static_cast<size_t>(i)] = static_cast<char>(v >> (8 * i));
}

TEST(RandomState, DamagedOrForeignTextsAreRefused) {
  TRandom_LFSR a(kSeed, 2032);
  const AnsiString text = a.GetStateText();
  const std::string invalid = "Invalid Random Data detected.";
  TRandom_LFSR b(kSeed, 2032);
  const auto before = b.LfsrRegister();

  AnsiString flipped = text;
  flipped[100] = flipped[100] == 'A' ? 'B' : 'A';
  EXPECT_EQ(RandomMessage([&] { b.SetStateText(flipped); }), invalid);
  EXPECT_EQ(RandomMessage([&] { b.SetStateText(""); }), invalid);
  EXPECT_EQ(RandomMessage([&] { b.SetStateText("not base 64 at all!"); }), invalid);
  EXPECT_EQ(RandomMessage([&] { b.SetStateText(text.substr(0, text.size() - 8)); }), invalid);
  EXPECT_EQ(RandomMessage([&] { b.SetStateText(text + "AAAA"); }), invalid);
  EXPECT_EQ(b.LfsrRegister(), before);  // a refused text changes nothing
  // A correct check but wrong contents.
  auto same = [](AnsiString&) {};
  EXPECT_NO_THROW(b.SetStateText(Tampered(text, same)));
  EXPECT_EQ(RandomMessage([&] { b.SetStateText(Tampered(text, same, 255)); }), invalid);
  EXPECT_EQ(RandomMessage([&] { b.SetStateText(Tampered(text, same, 512)); }), invalid);
  EXPECT_EQ(RandomMessage([&] { b.SetStateText(Tampered(text, same, 257)); }),
            "Random Data are protected.");
  EXPECT_EQ(RandomMessage(
                [&] { b.SetStateText(Tampered(text, [](AnsiString& d) { SetLE32(d, 2, 100); })); }),
            invalid);  // not a size of the table
  EXPECT_EQ(RandomMessage(
                [&] { b.SetStateText(Tampered(text, [](AnsiString& d) { SetLE32(d, 2, 128); })); }),
            invalid);  // last index of 2032 bits
  EXPECT_EQ(RandomMessage([&] {
              b.SetStateText(Tampered(text, [](AnsiString& d) { SetLE32(d, 6 + 256 + 8, 254); }));
            }),
            invalid);  // position past the register
  EXPECT_EQ(
      RandomMessage([&] {
        b.SetStateText(Tampered(text, [](AnsiString& d) { SetLE32(d, 6 + 256 + 8, 0xFFFFFFFFu); }));
      }),
      invalid);  // negative position
  // A base generator's record is no LFSR record.
  TRandom base(kSeed, 32);
  EXPECT_EQ(RandomMessage([&] { b.SetStateText(base.GetStateText()); }), invalid);
  EXPECT_EQ(RandomMessage([&] { base.SetStateText(text); }), invalid);
}

// XORs everything with a constant: enough to protect and unprotect a state.
class TXor : public TProtection {
 public:
  void ProcessChunk(void* Buffer, int32_t Size, TProtectionAction Action) override {
    if (Action == paEncode || Action == paDecode) {
      auto* p = static_cast<uint8_t*>(Buffer);
      for (int32_t i = 0; i < Size; ++i) p[i] ^= 0x3C;
    }
    TProtection::ProcessChunk(Buffer, Size, Action);
  }
};

TEST(RandomState, ProtectedTextNeedsTheProtection) {
  auto guard = std::make_shared<TXor>();
  TRandom_LFSR a(kSeed, 2032, false, guard);
  Draw(a, 9);
  const AnsiString text = a.GetStateText();
  const AnsiString data = FormatToBytes(text, fmtMIME64);
  EXPECT_EQ(static_cast<uint8_t>(data[data.size() - 2]), 1);  // flag word 257
  EXPECT_EQ(static_cast<uint8_t>(data[data.size() - 1]), 1);
  const auto next = Draw(a, 50);
  TRandom_LFSR b("", 2032, false, guard);
  b.SetStateText(text);
  EXPECT_EQ(Draw(b, 50), next);
  TRandom_LFSR c("", 2032);
  EXPECT_EQ(RandomMessage([&] { c.SetStateText(text); }), "Random Data are protected.");
}

TEST(RandomState, StreamFrameRoundTrips) {
  TRandom_LFSR a(kSeed, 2032);
  Draw(a, 11);
  TMemoryStream m;
  a.WriteState(m);
  const std::string frame(reinterpret_cast<char*>(m.Memory()), static_cast<size_t>(m.GetSize()));
  ASSERT_EQ(frame.substr(0, 4), "LFSR");
  const size_t length = std::stoul(frame.substr(4, 4), nullptr, 16);
  EXPECT_EQ(frame.substr(8, 2), "\r\n");
  EXPECT_EQ(frame.size(), 10 + length);
  EXPECT_EQ(frame.substr(10 + 64, 2), "\r\n");
  const auto next = Draw(a, 40);

  TRandom_LFSR b("", 2032);
  m.SetPosition(0);
  b.ReadState(m);
  EXPECT_EQ(Draw(b, 40), next);

  // Another class's frame is left alone.
  TRandom base(kSeed, 32);
  m.SetPosition(0);
  TRandom baseCopy(kSeed, 32);
  baseCopy.ReadState(m);
  TRandom fresh(kSeed, 32);
  EXPECT_EQ(Draw(baseCopy, 8), Draw(fresh, 8));
  TMemoryStream bm;
  base.WriteState(bm);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bm.Memory()), 6), "Random");

  // A frame whose length is no hexadecimal number.
  TMemoryStream bad;
  bad.WriteBuffer("LFSRzz\r\n", 8);
  bad.SetPosition(0);
  EXPECT_THROW(b.ReadState(bad), ERandom);
}

TEST(RandomProtection, EncodeThenDecodeRestoresTheData) {
  TRandom_LFSR g(kSeed, 2032);
  std::vector<uint8_t> data(10000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
  auto work = data;
  g.ProcessBuffer(work.data(), static_cast<int32_t>(work.size()), paEncode);
  EXPECT_NE(work, data);
  g.ProcessBuffer(work.data(), static_cast<int32_t>(work.size()), paDecode);
  EXPECT_EQ(work, data);
  g.ProcessBuffer(work.data(), static_cast<int32_t>(work.size()), paDigest);
  EXPECT_EQ(work, data);
}

}  // namespace
}  // namespace zk
