#include "container/crypto/Cipher.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "container/crypto/Hash.h"

namespace zk {
namespace {

using TBytes = std::vector<uint8_t>;

TBytes Hex(const std::string& text) {
  TBytes out;
  for (size_t i = 0; i + 1 < text.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
  }
  return out;
}

TBytes Counting(size_t n, uint8_t start = 0) {
  TBytes out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(start + i);
  return out;
}

TBytes Range(const uint8_t* p, size_t n) {
  return TBytes(p, p + n);
}

const TBytes FipsPlain = Hex("00112233445566778899aabbccddeeff");

// A cipher set from raw key bytes with the default initial vector.
std::unique_ptr<TCipher_Rijndael> Keyed(const TBytes& key) {
  auto c = std::make_unique<TCipher_Rijndael>();
  c->Init(key.data(), static_cast<int32_t>(key.size()), nullptr);
  return c;
}

TBytes EncryptBlockOf(TCipher& c, TBytes block) {
  c.EncryptBlock(block.data());
  return block;
}

// Restores the process-wide key-size switch.
struct TCheckKeySizeGuard {
  bool Saved = CheckKeySize.load();
  ~TCheckKeySizeGuard() { CheckKeySize = Saved; }
};

// FIPS-197 Appendix C.1 and C.2: 16- and 24-byte keys give AES results.
TEST(CipherRijndael, FipsAppendixAes128And192) {
  struct Case {
    size_t KeySize;
    int32_t Rounds;
    const char* Cipher;
  };
  for (const Case& c : {Case{16, 10, "69c4e0d86a7b0430d8cdb78070b4c55a"},
                        Case{24, 12, "dda97ca4864cdfe06eaf70a0ec0d7191"}}) {
    SCOPED_TRACE(c.KeySize);
    auto cipher = Keyed(Counting(c.KeySize));
    EXPECT_EQ(cipher->Rounds(), c.Rounds);
    TBytes block = FipsPlain;
    cipher->EncryptBlock(block.data());
    EXPECT_EQ(block, Hex(c.Cipher));
    cipher->DecryptBlock(block.data());
    EXPECT_EQ(block, FipsPlain);
  }
}

// The C.3 key: the expansion agrees with AES-256 up to word 11 and differs from
// word 12 on, so the block result is not the appendix's.
TEST(CipherRijndael, ThirtyTwoByteKeysUseTheirOwnExpansion) {
  auto cipher = Keyed(Counting(32));
  EXPECT_EQ(cipher->Rounds(), 14);
  const uint8_t* schedule = cipher->KeySchedule();
  // Round keys 0 and 1 are the key; round key 2 is AES-256's (FIPS-197 C.3).
  EXPECT_EQ(Range(schedule, 32), Counting(32));
  EXPECT_EQ(Range(schedule + 32, 16), Hex("a573c29fa176c498a97fce93a572c09c"));
  // AES-256 has 1651a8cd 0244beda 1a5da4c1 0640bade as round key 3 and
  // 24fc79cc bf0979e9 371ac23c 6d68de36 as round key 14.
  const TBytes aesRoundKey3 = Hex("1651a8cd0244beda1a5da4c10640bade");
  for (int word = 0; word < 4; ++word) {
    EXPECT_NE(Range(schedule + 48 + 4 * word, 4), Range(aesRoundKey3.data() + 4 * word, 4))
        << "word " << 12 + word;
  }
  EXPECT_EQ(Range(schedule + 48, 16), Hex("b32368511255acc9ab3a724a0e48b2d6"));
  EXPECT_NE(Range(schedule + 224, 16), Hex("24fc79ccbf0979e9371ac23c6d68de36"));
  EXPECT_EQ(Range(schedule + 224, 16), Hex("19e71fcc6ac246992a40cb8c28d3bb06"));

  TBytes block = FipsPlain;
  cipher->EncryptBlock(block.data());
  EXPECT_NE(block, Hex("8ea2b7ca516745bfeafc49904b496089"));
  EXPECT_EQ(block, Hex("7db8ca4ebc1555cd9b4e8c321b572299"));
  cipher->DecryptBlock(block.data());
  EXPECT_EQ(block, FipsPlain);
}

TEST(CipherRijndael, DecryptBlockInvertsEncryptBlockForEveryKeyLength) {
  for (size_t keySize : {1u, 16u, 20u, 24u, 25u, 32u}) {
    SCOPED_TRACE(keySize);
    auto cipher = Keyed(Counting(keySize, 0x5A));
    for (uint8_t start : {0x00, 0x37, 0xF0}) {
      const TBytes plain = Counting(16, start);
      TBytes block = plain;
      cipher->EncryptBlock(block.data());
      EXPECT_NE(block, plain);
      cipher->DecryptBlock(block.data());
      EXPECT_EQ(block, plain);
    }
  }
}

TEST(CipherRijndael, ShortKeysArePaddedAndLongKeysCut) {
  // 20 bytes: 12 rounds over the key with 4 zero bytes appended.
  TBytes key20 = Counting(20, 1);
  TBytes key24 = key20;
  key24.resize(24, 0);
  auto c20 = Keyed(key20);
  EXPECT_EQ(c20->Rounds(), 12);
  EXPECT_EQ(EncryptBlockOf(*c20, FipsPlain), EncryptBlockOf(*Keyed(key24), FipsPlain));

  // 40 bytes are cut to 32 while the switch is off.
  TCheckKeySizeGuard guard;
  CheckKeySize = false;
  const TBytes key40 = Counting(40, 3);
  auto c40 = Keyed(key40);
  EXPECT_EQ(c40->Rounds(), 14);
  EXPECT_EQ(EncryptBlockOf(*c40, FipsPlain),
            EncryptBlockOf(*Keyed(TBytes(key40.begin(), key40.begin() + 32)), FipsPlain));

  // A negative size counts as an empty key (10 rounds over zeros).
  TCipher_Rijndael negative;
  negative.Init(key40.data(), -5, nullptr);
  EXPECT_EQ(negative.Rounds(), 10);
  EXPECT_EQ(EncryptBlockOf(negative, FipsPlain), EncryptBlockOf(*Keyed(TBytes(16, 0)), FipsPlain));
}

TEST(CipherRijndael, KeySizeSwitchRejectsLongKeys) {
  TCheckKeySizeGuard guard;
  CheckKeySize = true;
  const TBytes key = Counting(33);
  TCipher_Rijndael cipher;
  try {
    cipher.Init(key.data(), 33, nullptr);
    FAIL() << "no exception";
  } catch (const ECipherException& e) {
    EXPECT_EQ(e.ErrorCode, 2);
    EXPECT_EQ(e.Message,
              "Length from Encryptionkey is invalid.\r\nKeysize for TCipher_Rijndael must be to "
              "0-32 bytes");
  }
  EXPECT_FALSE(cipher.Initialized());
  cipher.Init(key.data(), 32, nullptr);  // the maximal size is still fine
  EXPECT_TRUE(cipher.Initialized());
}

// The default initial vector is the encryption of sixteen 0xFF bytes; a
// 16-byte block then 5 bytes give 21 bytes that a fresh object deciphers.
TEST(CipherRijndael, DefaultInitVectorAndMixedBuffer) {
  const TBytes key = Counting(16);
  auto cipher = Keyed(key);
  const TBytes iv = Hex("3c441f32ce07822364d7a2990e50bb13");
  EXPECT_EQ(Range(cipher->InitVector(), 16), iv);
  EXPECT_EQ(EncryptBlockOf(*Keyed(key), TBytes(16, 0xFF)), iv);
  EXPECT_EQ(Range(cipher->FeedbackRegister(), 16), iv);

  const TBytes plain = Counting(21);
  TBytes data = plain;
  cipher->EncryptBuffer(data.data(), data.data(), 21);
  EXPECT_EQ(data, Hex("800a3354792be5e2c91431989edf966c112924d0f6"));
  TBytes first(16);
  for (int i = 0; i < 16; ++i) first[i] = plain[i] ^ iv[i];
  EXPECT_EQ(TBytes(data.begin(), data.begin() + 16), EncryptBlockOf(*Keyed(key), first));

  Keyed(key)->DecryptBuffer(data.data(), data.data(), 21);
  EXPECT_EQ(data, plain);
}

// An explicit initial vector is taken as it is.
TEST(CipherRijndael, ExplicitInitVector) {
  const TBytes key = Counting(32);
  const TBytes iv = Counting(16, 0x80);
  TCipher_Rijndael cipher;
  cipher.Init(key.data(), 32, iv.data());
  EXPECT_EQ(Range(cipher.InitVector(), 16), iv);
  TBytes data = Counting(16);
  cipher.EncryptBuffer(data.data(), data.data(), 16);
  TBytes expected(16);
  for (int i = 0; i < 16; ++i) expected[i] = static_cast<uint8_t>(i) ^ iv[i];
  EXPECT_EQ(data, EncryptBlockOf(*Keyed(key), expected));
}

// Chaining mode 0 step by step: C = E(P xor F), F = C xor F; a trailing
// partial block is XORed with E(F), and then F = E(F) xor F.
TEST(CipherRijndael, ChainingModeFollowsItsDefinition) {
  const TBytes key = Counting(24, 9);
  auto reference = Keyed(key);
  TBytes f = Range(reference->InitVector(), 16);
  const TBytes plain = Counting(16 + 16 + 7, 0x41);
  TBytes expected;
  for (size_t at = 0; at < 32; at += 16) {
    TBytes x(16);
    for (int i = 0; i < 16; ++i) x[i] = plain[at + i] ^ f[i];
    TBytes c = EncryptBlockOf(*reference, x);
    expected.insert(expected.end(), c.begin(), c.end());
    for (int i = 0; i < 16; ++i) f[i] ^= c[i];
  }
  const TBytes t = EncryptBlockOf(*reference, f);
  for (int i = 0; i < 7; ++i) expected.push_back(plain[32 + i] ^ t[i]);
  for (int i = 0; i < 16; ++i) f[i] ^= t[i];

  auto cipher = Keyed(key);
  TBytes out(plain.size());
  cipher->EncryptBuffer(plain.data(), out.data(), static_cast<int32_t>(plain.size()));
  EXPECT_EQ(out, expected);
  EXPECT_EQ(Range(cipher->FeedbackRegister(), 16), f);

  // Deciphering ends with the same feedback register.
  auto decipher = Keyed(key);
  decipher->DecryptBuffer(out.data(), out.data(), static_cast<int32_t>(out.size()));
  EXPECT_EQ(out, plain);
  EXPECT_EQ(Range(decipher->FeedbackRegister(), 16), f);
}

// Round trips of the sizes the system uses, in place and between buffers;
// the output always has the input's length.
TEST(CipherRijndael, BuffersRoundTripInPlaceAndBetweenBuffers) {
  const AnsiString keyText("master key text\0with NUL", 24);
  for (int32_t size : {0, 1, 15, 16, 17, 32, 100, 4064}) {
    SCOPED_TRACE(size);
    const TBytes plain = Counting(static_cast<size_t>(size), 7);

    TBytes inPlace = plain;
    TCipher_Rijndael(keyText).EncryptBuffer(inPlace.data(), inPlace.data(), size);
    if (size >= 16) {
      EXPECT_NE(inPlace, plain);
    }

    // Between buffers: the source is left alone, the guard bytes too.
    TBytes source = plain;
    TBytes dest(static_cast<size_t>(size) + 8, 0xEE);
    TCipher_Rijndael(keyText).EncryptBuffer(source.data(), dest.data(), size);
    EXPECT_EQ(source, plain);
    EXPECT_EQ(TBytes(dest.begin(), dest.begin() + size), inPlace);
    EXPECT_EQ(TBytes(dest.begin() + size, dest.end()), TBytes(8, 0xEE));

    TBytes back(static_cast<size_t>(size) + 8, 0xEE);
    TCipher_Rijndael(keyText).DecryptBuffer(dest.data(), back.data(), size);
    EXPECT_EQ(TBytes(back.begin(), back.begin() + size), plain);
    EXPECT_EQ(TBytes(back.begin() + size, back.end()), TBytes(8, 0xEE));

    TCipher_Rijndael(keyText).DecryptBuffer(inPlace.data(), inPlace.data(), size);
    EXPECT_EQ(inPlace, plain);
  }
}

TEST(CipherRijndael, NegativeSizeChangesNothing) {
  TBytes data = Counting(16);
  TCipher_Rijndael cipher("key");
  const TBytes feedback = Range(cipher.FeedbackRegister(), 16);
  cipher.EncryptBuffer(data.data(), data.data(), -1);
  cipher.DecryptBuffer(data.data(), data.data(), -16);
  EXPECT_EQ(data, Counting(16));
  EXPECT_EQ(Range(cipher.FeedbackRegister(), 16), feedback);
}

TEST(CipherRijndael, EmptyKeyTextLeavesTheCipherNotInitialized) {
  TCipher_Rijndael cipher{AnsiString()};
  EXPECT_FALSE(cipher.Initialized());
  TBytes source = Counting(20);
  TBytes dest(20, 0xEE);
  for (int32_t size : {0, 20}) {
    for (bool decrypt : {false, true}) {
      try {
        if (decrypt) {
          cipher.DecryptBuffer(source.data(), dest.data(), size);
        } else {
          cipher.EncryptBuffer(source.data(), dest.data(), size);
        }
        FAIL() << "no exception for size " << size;
      } catch (const ECipherException& e) {
        EXPECT_EQ(e.ErrorCode, 3);
        EXPECT_EQ(e.Message,
                  "TCipher_Rijndael is not initialized call Init() or InitKey() before.");
      }
    }
  }
  EXPECT_EQ(dest, TBytes(20, 0xEE));  // nothing was written
  EXPECT_THROW(cipher.EncryptBlock(source.data()), ECipherException);
}

TEST(CipherRijndael, SameKeyTextSameBytesAndTheFinalNulCounts) {
  const AnsiString key32(32, 'k');
  const AnsiString key33 = key32 + AnsiString(1, '\0');
  const TBytes plain = Counting(100);
  auto encipher = [&](const AnsiString& keyText) {
    TBytes data = plain;
    TCipher_Rijndael(keyText).EncryptBuffer(data.data(), data.data(), 100);
    return data;
  };
  EXPECT_EQ(encipher(key33), encipher(key33));
  EXPECT_NE(encipher(key33), encipher(key32));
  EXPECT_NE(encipher(AnsiString("a\0b", 3)), encipher(AnsiString("a\0c", 3)));
}

// A key text keys the cipher with its RIPEMD-256 digest and the default
// initial vector, exactly like Init with that digest.
TEST(CipherRijndael, KeyTextEqualsInitWithItsDigest) {
  for (const AnsiString& keyText :
       {AnsiString("abc"), AnsiString("\x01\xFF\0master", 9), AnsiString(33, '\x7F')}) {
    const auto digest = THash_RipeMD256::DigestOf(keyText);
    TCipher_Rijndael fromText(keyText);
    TCipher_Rijndael fromDigest;
    fromDigest.Init(digest.data(), 32, nullptr);
    EXPECT_TRUE(fromText.Initialized());
    EXPECT_EQ(fromText.Flags(), TCipher::FlagKeyFromText | TCipher::FlagInitialized);
    EXPECT_EQ(fromDigest.Flags(), TCipher::FlagInitialized);
    EXPECT_EQ(fromText.Rounds(), 14);
    EXPECT_EQ(Range(fromText.InitVector(), 16), Range(fromDigest.InitVector(), 16));
    EXPECT_EQ(Range(fromText.FeedbackRegister(), 16), Range(fromText.InitVector(), 16));
    EXPECT_EQ(Range(fromText.KeySchedule(), 480), Range(fromDigest.KeySchedule(), 480));

    TBytes a = Counting(37);
    TBytes b = a;
    fromText.EncryptBuffer(a.data(), a.data(), 37);
    fromDigest.EncryptBuffer(b.data(), b.data(), 37);
    EXPECT_EQ(a, b);
  }
  // With the published RIPEMD-256 digest of "abc" as the key.
  TBytes data = Counting(21);
  TCipher_Rijndael("abc").EncryptBuffer(data.data(), data.data(), 21);
  EXPECT_EQ(data, Hex("e67e93df80149b10e1c857054f91643cf6ceec3e64"));
}

// The feedback register carries over between calls until ResetChain.
TEST(CipherRijndael, ChainCarriesOverUntilResetChain) {
  const TBytes plain = Counting(48, 3);
  TBytes whole = plain;
  TCipher_Rijndael("chain").EncryptBuffer(whole.data(), whole.data(), 48);

  TCipher_Rijndael pieces("chain");
  TBytes split = plain;
  pieces.EncryptBuffer(split.data(), split.data(), 16);
  pieces.EncryptBuffer(split.data() + 16, split.data() + 16, 32);
  EXPECT_EQ(split, whole);

  pieces.ResetChain();
  EXPECT_EQ(Range(pieces.FeedbackRegister(), 16), Range(pieces.InitVector(), 16));
  TBytes again = plain;
  pieces.EncryptBuffer(again.data(), again.data(), 48);
  EXPECT_EQ(again, whole);

  TCipher_Rijndael decipher("chain");
  decipher.DecryptBuffer(whole.data(), whole.data(), 32);
  decipher.DecryptBuffer(whole.data() + 32, whole.data() + 32, 16);
  EXPECT_EQ(whole, plain);
}

TEST(CipherRijndael, WipeOverwritesKeyMaterial) {
  TCipher_Rijndael cipher("secret");
  cipher.Wipe();
  EXPECT_EQ(cipher.Flags(), 0u);
  EXPECT_EQ(Range(cipher.InitVector(), 16), TBytes(16, 0xFF));
  EXPECT_EQ(Range(cipher.FeedbackRegister(), 16), TBytes(16, 0xFF));
  EXPECT_EQ(Range(cipher.KeySchedule(), 480), TBytes(480, 0x00));
  TBytes data(16);
  EXPECT_THROW(cipher.EncryptBuffer(data.data(), data.data(), 16), ECipherException);
}

TEST(CipherRijndael, ContextAndChainMode) {
  EXPECT_EQ(TCipher_Rijndael::Context().BlockSize, 16);
  EXPECT_EQ(TCipher_Rijndael::Context().MaxKeySize, 32);
  EXPECT_EQ(TCipher_Rijndael::Context().KeyScheduleSize, 480u);
  TCipher_Rijndael cipher;
  EXPECT_EQ(cipher.ChainMode(), 0);
  EXPECT_EQ(cipher.HashClass(), &THash_RipeMD256::Create);
  EXPECT_STREQ(cipher.ClassName(), "TCipher_Rijndael");
}

// As a protection object a cipher enciphers what passes through it, after its
// next protection, and deciphers before it.
TEST(CipherRijndael, ProtectionChainRoundTrip) {
  const TBytes plain = Counting(70, 1);
  auto chain = [] {
    return std::make_shared<TCipher_Rijndael>("outer", std::make_shared<TCipher_Rijndael>("inner"));
  };
  TBytes data = plain;
  chain()->ProcessBuffer(data.data(), 70, paEncode);
  TBytes expected = plain;
  TCipher_Rijndael("inner").EncryptBuffer(expected.data(), expected.data(), 70);
  TCipher_Rijndael("outer").EncryptBuffer(expected.data(), expected.data(), 70);
  EXPECT_EQ(data, expected);

  chain()->ProcessBuffer(data.data(), 70, paDecode);
  EXPECT_EQ(data, plain);

  // The hooks check the key first.
  TCipher_Rijndael empty;
  EXPECT_THROW(empty.ProcessBuffer(data.data(), 70, paEncode), ECipherException);

  // An action that is not allowed leaves the data alone.
  TCipher_Rijndael restricted("outer");
  restricted.AllowedActions = ActionBit(paDecode);
  restricted.ProcessBuffer(data.data(), 70, paEncode);
  EXPECT_EQ(data, plain);
}

}  // namespace
}  // namespace zk
