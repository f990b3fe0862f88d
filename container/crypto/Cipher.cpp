#include "container/crypto/Cipher.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "container/crypto/CheckValue.h"
#include "platform/rtl/SecureMemory.h"

namespace zk {

std::atomic<bool> CheckKeySize{false};

namespace {

// ---- Rijndael tables, computed at compile time from GF(2^8) ----------------

constexpr uint8_t XTime(uint8_t x) {
  return static_cast<uint8_t>((x << 1) ^ ((x & 0x80) != 0 ? 0x1B : 0x00));
}

constexpr uint8_t GfMul(uint8_t a, uint8_t b) {
  uint8_t r = 0;
  while (b != 0) {
    if ((b & 1) != 0) r ^= a;
    a = XTime(a);
    b >>= 1;
  }
  return r;
}

constexpr uint8_t Rotl8(uint8_t x, int k) {
  return static_cast<uint8_t>((x << k) | (x >> (8 - k)));
}

constexpr uint32_t Rotl32(uint32_t x, int k) {
  return (x << k) | (x >> (32 - k));
}

// Words hold four bytes in memory order: byte 0 (row 0) is the low byte.
constexpr uint32_t Word(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
  return static_cast<uint32_t>(b0) | static_cast<uint32_t>(b1) << 8 |
         static_cast<uint32_t>(b2) << 16 | static_cast<uint32_t>(b3) << 24;
}

struct TRijndaelTables {
  std::array<uint8_t, 256> S{};
  std::array<uint8_t, 256> InvS{};
  // Round tables: SubBytes and one column of MixColumns (TE), and InvSubBytes
  // and one column of InvMixColumns (TD). Table k is table 0 rotated by k bytes.
  std::array<std::array<uint32_t, 256>, 4> TE{};
  std::array<std::array<uint32_t, 256>, 4> TD{};
};

constexpr TRijndaelTables BuildTables() {
  TRijndaelTables t;
  // Powers and logarithms of the generator 3 give the multiplicative inverse.
  std::array<uint8_t, 256> exp{};
  std::array<uint8_t, 256> log{};
  uint8_t p = 1;
  for (int i = 0; i < 255; ++i) {
    exp[i] = p;
    log[p] = static_cast<uint8_t>(i);
    p = GfMul(p, 3);
  }
  for (int x = 0; x < 256; ++x) {
    const uint8_t inv = x == 0 ? 0 : exp[(255 - log[x]) % 255];
    const uint8_t s = static_cast<uint8_t>(inv ^ Rotl8(inv, 1) ^ Rotl8(inv, 2) ^ Rotl8(inv, 3) ^
                                           Rotl8(inv, 4) ^ 0x63);
    t.S[x] = s;
    t.InvS[s] = static_cast<uint8_t>(x);
  }
  for (int x = 0; x < 256; ++x) {
    const uint8_t s = t.S[x];
    const uint8_t i = t.InvS[x];
    const uint32_t e = Word(GfMul(s, 2), s, s, GfMul(s, 3));
    const uint32_t d = Word(GfMul(i, 14), GfMul(i, 9), GfMul(i, 13), GfMul(i, 11));
    for (int k = 0; k < 4; ++k) {
      t.TE[k][x] = k == 0 ? e : Rotl32(e, 8 * k);
      t.TD[k][x] = k == 0 ? d : Rotl32(d, 8 * k);
    }
  }
  return t;
}

constexpr TRijndaelTables Tables = BuildTables();

static_assert(Tables.S[0x00] == 0x63 && Tables.S[0x53] == 0xED && Tables.S[0xFF] == 0x16);
static_assert(Tables.InvS[0x63] == 0x00 && Tables.InvS[0x16] == 0xFF);
static_assert(Tables.TE[0][0] == 0xA56363C6u);

constexpr uint8_t B(uint32_t w, int n) {
  return static_cast<uint8_t>(w >> (8 * n));
}

inline uint32_t LoadWord(const uint8_t* p) {
  return Word(p[0], p[1], p[2], p[3]);
}

inline void StoreWord(uint8_t* p, uint32_t w) {
  p[0] = B(w, 0);
  p[1] = B(w, 1);
  p[2] = B(w, 2);
  p[3] = B(w, 3);
}

uint32_t SubWord(uint32_t w) {
  const auto& S = Tables.S;
  return Word(S[B(w, 0)], S[B(w, 1)], S[B(w, 2)], S[B(w, 3)]);
}

// RotWord: bytes a0 a1 a2 a3 become a1 a2 a3 a0.
uint32_t RotWord(uint32_t w) {
  return (w >> 8) | (w << 24);
}

uint32_t InvMixColumn(uint32_t w) {
  // TD includes InvSubBytes, so the S-box first cancels it.
  const auto& S = Tables.S;
  const auto& TD = Tables.TD;
  return TD[0][S[B(w, 0)]] ^ TD[1][S[B(w, 1)]] ^ TD[2][S[B(w, 2)]] ^ TD[3][S[B(w, 3)]];
}

constexpr int ScheduleHalfWords = 60;  // 240 bytes: 15 round keys of 4 words

// Expands the Nk-word key into 4 * (Rounds + 1) words. For Nk = 8 the words
// 1..7 of each group are chained, then word 4 takes SubWord of word 3 and words
// 5..7 are chained again; this differs from the AES-256 expansion from word 12
// on, and stored data depends on it.
void ExpandKey(const uint8_t* key, int nk, int rounds, uint32_t* w) {
  const int total = 4 * (rounds + 1);
  uint32_t k[8] = {};
  for (int i = 0; i < nk; ++i) k[i] = w[i] = LoadWord(key + 4 * i);
  uint8_t rcon = 0x01;
  for (int done = nk; done < total;) {
    k[0] ^= SubWord(RotWord(k[nk - 1])) ^ rcon;
    rcon = XTime(rcon);
    for (int i = 1; i < nk; ++i) k[i] ^= k[i - 1];
    if (nk == 8) {
      k[4] ^= SubWord(k[3]);
      for (int i = 5; i < 8; ++i) k[i] ^= k[i - 1];
    }
    for (int i = 0; i < nk && done < total; ++i) w[done++] = k[i];
  }
  SecureFill(k, sizeof k);
}

void EncryptRounds(const uint32_t* rk, int rounds, uint8_t* block) {
  const auto& TE = Tables.TE;
  const auto& S = Tables.S;
  uint32_t s0 = LoadWord(block) ^ rk[0];
  uint32_t s1 = LoadWord(block + 4) ^ rk[1];
  uint32_t s2 = LoadWord(block + 8) ^ rk[2];
  uint32_t s3 = LoadWord(block + 12) ^ rk[3];
  for (int r = 1; r < rounds; ++r) {
    rk += 4;
    const uint32_t t0 =
        TE[0][B(s0, 0)] ^ TE[1][B(s1, 1)] ^ TE[2][B(s2, 2)] ^ TE[3][B(s3, 3)] ^ rk[0];
    const uint32_t t1 =
        TE[0][B(s1, 0)] ^ TE[1][B(s2, 1)] ^ TE[2][B(s3, 2)] ^ TE[3][B(s0, 3)] ^ rk[1];
    const uint32_t t2 =
        TE[0][B(s2, 0)] ^ TE[1][B(s3, 1)] ^ TE[2][B(s0, 2)] ^ TE[3][B(s1, 3)] ^ rk[2];
    const uint32_t t3 =
        TE[0][B(s3, 0)] ^ TE[1][B(s0, 1)] ^ TE[2][B(s1, 2)] ^ TE[3][B(s2, 3)] ^ rk[3];
    s0 = t0;
    s1 = t1;
    s2 = t2;
    s3 = t3;
  }
  rk += 4;
  StoreWord(block, Word(S[B(s0, 0)], S[B(s1, 1)], S[B(s2, 2)], S[B(s3, 3)]) ^ rk[0]);
  StoreWord(block + 4, Word(S[B(s1, 0)], S[B(s2, 1)], S[B(s3, 2)], S[B(s0, 3)]) ^ rk[1]);
  StoreWord(block + 8, Word(S[B(s2, 0)], S[B(s3, 1)], S[B(s0, 2)], S[B(s1, 3)]) ^ rk[2]);
  StoreWord(block + 12, Word(S[B(s3, 0)], S[B(s0, 1)], S[B(s1, 2)], S[B(s2, 3)]) ^ rk[3]);
}

// The equivalent inverse cipher: dk holds round key r at words 4r, those of
// rounds 1 .. rounds-1 passed through InvMixColumns; used from the last down.
void DecryptRounds(const uint32_t* dk, int rounds, uint8_t* block) {
  const auto& TD = Tables.TD;
  const auto& IS = Tables.InvS;
  const uint32_t* rk = dk + 4 * rounds;
  uint32_t s0 = LoadWord(block) ^ rk[0];
  uint32_t s1 = LoadWord(block + 4) ^ rk[1];
  uint32_t s2 = LoadWord(block + 8) ^ rk[2];
  uint32_t s3 = LoadWord(block + 12) ^ rk[3];
  for (int r = rounds - 1; r > 0; --r) {
    rk -= 4;
    const uint32_t t0 =
        TD[0][B(s0, 0)] ^ TD[1][B(s3, 1)] ^ TD[2][B(s2, 2)] ^ TD[3][B(s1, 3)] ^ rk[0];
    const uint32_t t1 =
        TD[0][B(s1, 0)] ^ TD[1][B(s0, 1)] ^ TD[2][B(s3, 2)] ^ TD[3][B(s2, 3)] ^ rk[1];
    const uint32_t t2 =
        TD[0][B(s2, 0)] ^ TD[1][B(s1, 1)] ^ TD[2][B(s0, 2)] ^ TD[3][B(s3, 3)] ^ rk[2];
    const uint32_t t3 =
        TD[0][B(s3, 0)] ^ TD[1][B(s2, 1)] ^ TD[2][B(s1, 2)] ^ TD[3][B(s0, 3)] ^ rk[3];
    s0 = t0;
    s1 = t1;
    s2 = t2;
    s3 = t3;
  }
  rk -= 4;
  StoreWord(block, Word(IS[B(s0, 0)], IS[B(s3, 1)], IS[B(s2, 2)], IS[B(s1, 3)]) ^ rk[0]);
  StoreWord(block + 4, Word(IS[B(s1, 0)], IS[B(s0, 1)], IS[B(s3, 2)], IS[B(s2, 3)]) ^ rk[1]);
  StoreWord(block + 8, Word(IS[B(s2, 0)], IS[B(s1, 1)], IS[B(s0, 2)], IS[B(s3, 3)]) ^ rk[2]);
  StoreWord(block + 12, Word(IS[B(s3, 0)], IS[B(s2, 1)], IS[B(s1, 2)], IS[B(s0, 3)]) ^ rk[3]);
}

inline void XorInto(uint8_t* dest, const uint8_t* a, const uint8_t* b, int32_t size) {
  for (int32_t i = 0; i < size; ++i) dest[i] = static_cast<uint8_t>(a[i] ^ b[i]);
}

}  // namespace

// ---- TCipher ----------------------------------------------------------------

TCipher::TCipher(const TCipherContext& Context, std::shared_ptr<TProtection> Protection)
    : TProtection(std::move(Protection)),
      FContext(Context),
      FHashClass(&THash_RipeMD256::Create),
      FScratch(MakeBuffer(static_cast<uint32_t>(Context.BlockSize))),
      FInitVector(MakeBuffer(static_cast<uint32_t>(Context.BlockSize))),
      FFeedback(MakeBuffer(static_cast<uint32_t>(Context.BlockSize))),
      FKeySchedule(MakeBuffer(Context.KeyScheduleSize)) {
  Wipe();
}

TCipher::~TCipher() {
  Wipe();
}

void TCipher::SetStateFlag(uint32_t Bit, bool On) {
  if (On) {
    FFlags |= Bit;
  } else {
    FFlags &= ~Bit;
  }
}

void TCipher::FillState(uint8_t BlockValue, uint8_t ScheduleValue) {
  const auto block = static_cast<size_t>(FContext.BlockSize);
  SecureFill(Bytes(FInitVector), block, BlockValue);
  SecureFill(Bytes(FFeedback), block, BlockValue);
  SecureFill(Bytes(FScratch), block, ScheduleValue);
  SecureFill(FKeySchedule.data(), FContext.KeyScheduleSize, ScheduleValue);
}

void TCipher::Wipe() {
  SetStateFlag(FlagKeyFromText | FlagInitialized, false);
  FillState(0xAA, 0xAA);
  FillState(0x55, 0x55);
  FillState(0xFF, 0x00);
}

void TCipher::FinishInit(const void* InitVector) {
  const auto block = static_cast<size_t>(FContext.BlockSize);
  if (InitVector != nullptr) {
    std::memcpy(Bytes(FInitVector), InitVector, block);
  } else {
    EncryptBlock(Bytes(FInitVector));
  }
  std::memcpy(Bytes(FFeedback), Bytes(FInitVector), block);
  SetStateFlag(FlagInitialized, true);
}

int32_t TCipher::BeginInit(int32_t KeySize) {
  SetStateFlag(FlagInitialized, false);
  Wipe();
  if (KeySize < 0) KeySize = 0;
  if (KeySize > FContext.MaxKeySize) {
    if (CheckKeySize.load()) {
      throw ECipherException(errCipherKeySize,
                             AnsiString("Length from Encryptionkey is invalid.\r\nKeysize for ") +
                                 ClassName() + " must be to 0-" + IntToStr(FContext.MaxKeySize) +
                                 " bytes");
    }
    KeySize = FContext.MaxKeySize;
  }
  return KeySize;
}

void TCipher::CheckInitialized() const {
  if (!Initialized()) {
    throw ECipherException(
        errCipherNotInitialized,
        AnsiString(ClassName()) + " is not initialized call Init() or InitKey() before.");
  }
}

void TCipher::InitKey(const AnsiString& KeyText, const void* InitVector) {
  if (!FHash) FHash = FHashClass();
  FHash->Reset();
  FHash->Update(KeyText.data(), static_cast<int64_t>(KeyText.size()));
  FHash->Finish();
  const int32_t digestSize = FHash->DigestSize();
  Init(FHash->Digest(), std::min(digestSize, FContext.MaxKeySize), InitVector);
  // The digest is the key: it does not stay readable in the hash object.
  EncryptBuffer(FHash->Digest(), FHash->Digest(), digestSize);
  ResetChain();
  SetStateFlag(FlagKeyFromText, true);
}

void TCipher::EncryptBuffer(const void* Source, void* Dest, int32_t Size) {
  CheckInitialized();
  if (Size <= 0) return;
  const int32_t block = FContext.BlockSize;
  const auto* in = static_cast<const uint8_t*>(Source);
  auto* out = static_cast<uint8_t*>(Dest);
  uint8_t* feedback = Bytes(FFeedback);
  uint8_t* scratch = Bytes(FScratch);
  int32_t done = 0;
  for (; Size - done >= block; done += block) {
    // C = E(P xor F), then F = C xor F. The scratch block keeps Source intact
    // until the block is written, so Source and Dest may be one buffer.
    XorInto(scratch, in + done, feedback, block);
    EncryptBlock(scratch);
    std::memcpy(out + done, scratch, static_cast<size_t>(block));
    XorInto(feedback, scratch, feedback, block);
  }
  if (done < Size) {
    // A trailing partial block: XOR with E(F), then F = E(F) xor F.
    std::memcpy(scratch, feedback, static_cast<size_t>(block));
    EncryptBlock(scratch);
    XorInto(out + done, in + done, scratch, Size - done);
    XorInto(feedback, scratch, feedback, block);
  }
}

void TCipher::DecryptBuffer(const void* Source, void* Dest, int32_t Size) {
  CheckInitialized();
  if (Size <= 0) return;
  const int32_t block = FContext.BlockSize;
  auto* data = static_cast<uint8_t*>(Dest);
  if (Source != Dest) std::memmove(data, Source, static_cast<size_t>(Size));
  uint8_t* feedback = Bytes(FFeedback);
  uint8_t* scratch = Bytes(FScratch);
  int32_t done = 0;
  for (; Size - done >= block; done += block) {
    // N = C xor F; P = D(C) xor F; F = N.
    uint8_t* c = data + done;
    XorInto(scratch, c, feedback, block);
    DecryptBlock(c);
    XorInto(c, c, feedback, block);
    std::memcpy(feedback, scratch, static_cast<size_t>(block));
  }
  if (done < Size) {
    // The partial block uses the encryption direction here too.
    std::memcpy(scratch, feedback, static_cast<size_t>(block));
    EncryptBlock(scratch);
    XorInto(data + done, data + done, scratch, Size - done);
    XorInto(feedback, scratch, feedback, block);
  }
}

void TCipher::ResetChain() {
  const auto block = static_cast<size_t>(FContext.BlockSize);
  if (std::memcmp(Bytes(FFeedback), Bytes(FInitVector), block) != 0) {
    std::memcpy(Bytes(FScratch), Bytes(FFeedback), block);
    std::memcpy(Bytes(FFeedback), Bytes(FInitVector), block);
  }
}

void TCipher::ProcessAction(TProtectionAction Action) {
  if (Action == paDigest) return;
  if (Action == paWipe) {
    MixSeedBuffer(ClockSeed(), Bytes(FFeedback), FContext.BlockSize);
  } else {
    ResetChain();
  }
}

void TCipher::BeginProcess(TProtectionAction Action) {
  CheckInitialized();
  ProcessAction(Action);
  TProtection::BeginProcess(Action);
}

void TCipher::EndProcess(TProtectionAction Action) {
  TProtection::EndProcess(Action);
  ProcessAction(Action);
}

void TCipher::ProcessChunk(void* Buffer, int32_t Size, TProtectionAction Action) {
  if (Action == paDecode) {
    if (IsAllowed(Action)) DecryptBuffer(Buffer, Buffer, Size);
    TProtection::ProcessChunk(Buffer, Size, Action);
  } else {
    TProtection::ProcessChunk(Buffer, Size, Action);
    if (IsAllowed(Action)) EncryptBuffer(Buffer, Buffer, Size);
  }
}

// ---- TCipher_Rijndael -------------------------------------------------------

TCipher_Rijndael::TCipher_Rijndael(const AnsiString& KeyText,
                                   std::shared_ptr<TProtection> Protection)
    : TCipher(Context(), std::move(Protection)) {
  if (!KeyText.empty()) InitKey(KeyText, nullptr);
}

TCipher_Rijndael::~TCipher_Rijndael() = default;

void TCipher_Rijndael::Init(const void* Key, int32_t KeySize, const void* InitVector) {
  KeySize = BeginInit(KeySize);
  FRounds = KeySize <= 16 ? 10 : KeySize > 24 ? 14 : 12;
  const int nk = FRounds - 6;
  uint8_t key[32] = {};
  if (KeySize > 0) std::memcpy(key, Key, static_cast<size_t>(KeySize));
  uint32_t* enc = ScheduleWords();
  uint32_t* dec = enc + ScheduleHalfWords;
  ExpandKey(key, nk, FRounds, enc);
  SecureFill(key, sizeof key);
  const int words = 4 * (FRounds + 1);
  for (int i = 0; i < words; ++i) {
    const bool outer = i < 4 || i >= 4 * FRounds;
    dec[i] = outer ? enc[i] : InvMixColumn(enc[i]);
  }
  FinishInit(InitVector);
}

void TCipher_Rijndael::EncryptBlock(void* Block) {
  if (FRounds == 0) CheckInitialized();  // no key was ever set
  EncryptRounds(ScheduleWords(), FRounds, static_cast<uint8_t*>(Block));
}

void TCipher_Rijndael::DecryptBlock(void* Block) {
  if (FRounds == 0) CheckInitialized();
  DecryptRounds(ScheduleWords() + ScheduleHalfWords, FRounds, static_cast<uint8_t*>(Block));
}

}  // namespace zk
