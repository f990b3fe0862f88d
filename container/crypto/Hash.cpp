#include "container/crypto/Hash.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "container/crypto/CheckValue.h"
#include "platform/rtl/SecureMemory.h"

namespace zk {

// The digest is read as the little-endian bytes of the chaining words in place.
static_assert(std::endian::native == std::endian::little, "digest bytes alias the state words");

namespace {

using std::rotl;

inline uint32_t LoadLE32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

constexpr std::array<uint32_t, 10> Md4Start = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476,
                                               0xC3D2E1F0, 0x76543210, 0xFEDCBA98, 0x89ABCDEF,
                                               0x01234567, 0x3C2D1E0F};
constexpr std::array<uint32_t, 10> RipeMD256Start = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476,
                                                     0x76543210, 0xFEDCBA98, 0x89ABCDEF, 0x01234567,
                                                     0x01234567, 0x3C2D1E0F};

// RIPEMD message word order and rotations: four rounds of the left line, then
// four of the right line.
constexpr uint8_t RL[64] = {0, 1,  2,  3,  4,  5,  6,  7, 8,  9, 10, 11, 12, 13, 14, 15,
                            7, 4,  13, 1,  10, 6,  15, 3, 12, 0, 9,  5,  2,  14, 11, 8,
                            3, 10, 14, 4,  9,  15, 8,  1, 2,  7, 0,  6,  13, 11, 5,  12,
                            1, 9,  11, 10, 0,  8,  12, 4, 13, 3, 7,  15, 14, 5,  6,  2};
constexpr uint8_t RR[64] = {5,  14, 7, 0, 9, 2,  11, 4,  13, 6,  15, 8,  1,  10, 3,  12,
                            6,  11, 3, 7, 0, 13, 5,  10, 14, 15, 8,  12, 4,  9,  1,  2,
                            15, 5,  1, 3, 7, 14, 6,  9,  11, 8,  12, 2,  10, 0,  4,  13,
                            8,  6,  4, 1, 3, 11, 15, 0,  5,  12, 2,  13, 9,  7,  10, 14};
constexpr uint8_t SL[64] = {11, 14, 15, 12, 5,  8,  7,  9,  11, 13, 14, 15, 6,  7,  9,  8,
                            7,  6,  8,  13, 11, 9,  7,  15, 7,  12, 15, 9,  11, 7,  13, 12,
                            11, 13, 6,  7,  14, 9,  13, 15, 14, 8,  13, 6,  5,  12, 7,  5,
                            11, 12, 14, 15, 14, 15, 9,  8,  9,  14, 5,  6,  8,  6,  5,  12};
constexpr uint8_t SR[64] = {8,  9,  9,  11, 13, 15, 15, 5,  7,  7,  8,  11, 14, 14, 12, 6,
                            9,  13, 15, 7,  12, 8,  9,  11, 7,  7,  12, 7,  6,  15, 13, 11,
                            9,  7,  15, 11, 8,  6,  6,  14, 12, 13, 5,  14, 13, 13, 7,  5,
                            15, 5,  8,  11, 14, 14, 6,  14, 6,  9,  12, 9,  12, 5,  15, 8};
constexpr uint32_t KL[4] = {0x00000000, 0x5A827999, 0x6ED9EBA1, 0x8F1BBCDC};
constexpr uint32_t KR[4] = {0x50A28BE6, 0x5C4DD124, 0x6D703EF3, 0x00000000};

inline uint32_t RipeF(int round, uint32_t x, uint32_t y, uint32_t z) {
  switch (round) {
    case 0:
      return x ^ y ^ z;
    case 1:
      return (x & y) | (~x & z);
    case 2:
      return (x | ~y) ^ z;
    default:
      return (x & z) | (y & ~z);
  }
}

}  // namespace

// ---- THash: hooks and the protection role ----

void THash::StartHook() {
  if (auto* mac = dynamic_cast<TMAC*>(NextProtection().get())) mac->MacStart(*this);
}

void THash::FinishHook() {
  TProtection* next = NextProtection().get();
  if (next == nullptr) return;
  if (auto* mac = dynamic_cast<TMAC*>(next)) {
    mac->MacFinish(*this);
  } else {
    next->ProcessBuffer(Digest(), DigestSize(), paScramble);
  }
}

void THash::BeginProcess(TProtectionAction Action) {
  Reset();
  if (Action == paWipe) MixSeedBuffer(ClockSeed(), Digest(), DigestSize());
  TProtection::BeginProcess(Action);
}

void THash::EndProcess(TProtectionAction Action) {
  TProtection::EndProcess(Action);
  if (Action == paDigest) {
    Finish();
  } else {
    Reset();
  }
}

void THash::ProcessChunk(void* Buffer, int32_t Size, TProtectionAction Action) {
  if (Action != paDecode) TProtection::ProcessChunk(Buffer, Size, Action);
  const int32_t step = DigestSize();
  if (IsAllowed(Action) && Buffer != nullptr && Size > 0 && step > 0 && step <= 64) {
    auto* p = static_cast<uint8_t*>(Buffer);
    switch (Action) {
      case paScramble:
      case paWipe:
        for (int32_t i = 0; i < Size; i += step) {
          const int32_t n = std::min(step, Size - i);
          Update(p + i, n);
          Finish();
          std::memcpy(p + i, Digest(), static_cast<size_t>(n));
        }
        break;
      case paDigest:
        Update(p, Size);
        break;
      case paEncode:
      case paDecode: {
        std::array<uint8_t, 64> previous{};
        for (int32_t i = 0; i < Size; i += step) {
          const int32_t n = std::min(step, Size - i);
          // The digest lives in the state that Update changes: feed a copy.
          std::memcpy(previous.data(), Digest(), static_cast<size_t>(step));
          Update(previous.data(), step);
          Finish();
          XorBytes(p + i, Digest(), n, p + i);
        }
        SecureFill(previous.data(), previous.size());
        break;
      }
    }
  }
  if (Action == paDecode) TProtection::ProcessChunk(Buffer, Size, Action);
}

// ---- THash_MD4 ----

THash_MD4::THash_MD4(std::shared_ptr<TProtection> Protection) : THash(std::move(Protection)) {
  ResetTo(Md4Start);
}

THash_MD4::~THash_MD4() {
  SecureFill(FState.data(), sizeof(FState));
  SecureFill(FBuffer.data(), FBuffer.size());
}

void THash_MD4::ResetTo(const TState& Start) {
  FBuffer.fill(0);
  FState = Start;
  FCount = 0;
}

void THash_MD4::Reset() {
  ResetTo(Md4Start);
  StartHook();
}

uint8_t* THash_MD4::Digest() {
  return reinterpret_cast<uint8_t*>(FState.data());
}

void THash_MD4::Update(const void* Data, int64_t Size) {
  if (Data == nullptr || Size <= 0) return;
  const auto* p = static_cast<const uint8_t*>(Data);
  const uint32_t k = FCount % 64;
  FCount += static_cast<uint32_t>(Size);
  if (k != 0) {
    const uint32_t room = 64 - k;
    if (Size < room) {
      std::memcpy(FBuffer.data() + k, p, static_cast<size_t>(Size));
      return;
    }
    std::memcpy(FBuffer.data() + k, p, room);
    CompressBlock(FBuffer.data());
    p += room;
    Size -= room;
  }
  for (; Size >= 64; Size -= 64, p += 64) CompressBlock(p);
  std::memcpy(FBuffer.data(), p, static_cast<size_t>(Size));
}

void THash_MD4::Finish() {
  const uint32_t k = FCount % 64;
  FBuffer[k] = 0x80;
  std::fill(FBuffer.begin() + k + 1, FBuffer.end(), uint8_t{0});
  if (k + 1 > 56) {
    CompressBlock(FBuffer.data());
    FBuffer.fill(0);
  }
  // The bit length as 64 bits, computed in 32 (inputs stay far below 2^29 bytes).
  const uint32_t bits = FCount * 8;
  for (int i = 0; i < 4; ++i) FBuffer[56 + i] = static_cast<uint8_t>(bits >> (8 * i));
  CompressBlock(FBuffer.data());
  SecureFill(FBuffer.data(), FBuffer.size());
  FinishHook();
}

void THash_MD4::CompressBlock(const uint8_t* Block) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = LoadLE32(Block + 4 * i);
  uint32_t a = FState[0], b = FState[1], c = FState[2], d = FState[3];

  auto f = [](uint32_t u, uint32_t v, uint32_t w) { return (u & v) | (~u & w); };
  auto g = [](uint32_t u, uint32_t v, uint32_t w) { return (u & v) | (u & w) | (v & w); };
  auto h = [](uint32_t u, uint32_t v, uint32_t w) { return u ^ v ^ w; };

  static constexpr int S1[4] = {3, 7, 11, 19};
  for (int i = 0; i < 16; ++i) {
    const uint32_t t = rotl(a + f(b, c, d) + x[i], S1[i % 4]);
    a = d, d = c, c = b, b = t;
  }
  static constexpr int K2[16] = {0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15};
  static constexpr int S2[4] = {3, 5, 9, 13};
  for (int i = 0; i < 16; ++i) {
    const uint32_t t = rotl(a + g(b, c, d) + x[K2[i]] + 0x5A827999u, S2[i % 4]);
    a = d, d = c, c = b, b = t;
  }
  static constexpr int K3[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
  static constexpr int S3[4] = {3, 9, 11, 15};
  for (int i = 0; i < 16; ++i) {
    const uint32_t t = rotl(a + h(b, c, d) + x[K3[i]] + 0x6ED9EBA1u, S3[i % 4]);
    a = d, d = c, c = b, b = t;
  }
  FState[0] += a;
  FState[1] += b;
  FState[2] += c;
  FState[3] += d;
  SecureFill(x, sizeof x);
}

// ---- THash_RipeMD256 ----

THash_RipeMD256::THash_RipeMD256(std::shared_ptr<TProtection> Protection)
    : THash_MD4(std::move(Protection)) {
  ResetTo(RipeMD256Start);
}

void THash_RipeMD256::Reset() {
  ResetTo(RipeMD256Start);
  StartHook();
}

std::array<uint8_t, 32> THash_RipeMD256::DigestOf(const void* Data, int64_t Size) {
  THash_RipeMD256 hash;
  hash.Reset();
  hash.Update(Data, Size);
  hash.Finish();
  std::array<uint8_t, 32> digest;
  std::memcpy(digest.data(), hash.Digest(), digest.size());
  return digest;
}

void THash_RipeMD256::CompressBlock(const uint8_t* Block) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = LoadLE32(Block + 4 * i);
  TState& s = State();
  uint32_t a = s[0], b = s[1], c = s[2], d = s[3];
  uint32_t aa = s[4], bb = s[5], cc = s[6], dd = s[7];
  for (int round = 0; round < 4; ++round) {
    for (int i = round * 16; i < round * 16 + 16; ++i) {
      uint32_t t = rotl(a + RipeF(round, b, c, d) + x[RL[i]] + KL[round], SL[i]);
      a = d, d = c, c = b, b = t;
      t = rotl(aa + RipeF(3 - round, bb, cc, dd) + x[RR[i]] + KR[round], SR[i]);
      aa = dd, dd = cc, cc = bb, bb = t;
    }
    // The lines exchange one register after each round: A, then B, C and D.
    switch (round) {
      case 0:
        std::swap(a, aa);
        break;
      case 1:
        std::swap(b, bb);
        break;
      case 2:
        std::swap(c, cc);
        break;
      default:
        std::swap(d, dd);
        break;
    }
  }
  s[0] += a;
  s[1] += b;
  s[2] += c;
  s[3] += d;
  s[4] += aa;
  s[5] += bb;
  s[6] += cc;
  s[7] += dd;
  SecureFill(x, sizeof x);
}

// ---- TMAC ----

TMAC::TMAC(AnsiString Key, std::shared_ptr<TProtection> Protection)
    : TProtection(std::move(Protection)), FKey(std::move(Key)) {}

TMAC::~TMAC() {
  for (uint8_t value : {uint8_t{0xAA}, uint8_t{0x55}, uint8_t{0x00}})
    SecureFill(FKey.data(), FKey.size(), value);
}

void TMAC::MacStart(THash& Hash) {
  if (FKey.empty()) return;
  AnsiString d = DigestText(Hash.HashClass(), FKey, NextProtection(), fmtCOPY);
  const int64_t n = std::min<int64_t>(Hash.DigestSize(), static_cast<int64_t>(d.size()));
  XorBytes(Hash.Digest(), d.data(), n, Hash.Digest());
  for (uint8_t value : {uint8_t{0xAA}, uint8_t{0x55}, uint8_t{0x00}})
    SecureFill(d.data(), d.size(), value);
}

void TMAC::MacFinish(THash& Hash) {
  if (NextProtection())
    NextProtection()->ProcessBuffer(Hash.Digest(), Hash.DigestSize(), paScramble);
}

// ---- DigestText ----

AnsiString DigestText(THashClass HashClass, const AnsiString& Text,
                      std::shared_ptr<TProtection> Protection, int32_t FormatId) {
  if (HashClass == nullptr) return {};
  std::unique_ptr<THash> hash = HashClass();
  hash->SetNextProtection(std::move(Protection));
  hash->Reset();
  hash->Update(Text.data(), static_cast<int64_t>(Text.size()));
  hash->Finish();
  return BytesToFormat(hash->Digest(), hash->DigestSize(), FormatId);
}

}  // namespace zk
