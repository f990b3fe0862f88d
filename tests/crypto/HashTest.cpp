#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "container/crypto/Hash.h"

namespace zk {
namespace {

std::string Hex(const uint8_t* p, size_t n) {
  return BytesToFormat(p, static_cast<int64_t>(n), fmtHEXL);
}

std::string DigestHex(THash& h, const std::string& data) {
  h.Reset();
  h.Update(data.data(), static_cast<int64_t>(data.size()));
  h.Finish();
  return Hex(h.Digest(), static_cast<size_t>(h.DigestSize()));
}

const std::string kAlnum = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
const std::string kEighty = [] {
  std::string s;
  for (int i = 0; i < 8; ++i) s += "1234567890";
  return s;
}();
const std::string kFiftySix = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";

struct Vector {
  std::string message;
  const char* digest;
};

TEST(HashMD4, PublishedDigests) {
  const Vector rows[] = {
      {"", "31d6cfe0d16ae931b73c59d7e0c089c0"},
      {"a", "bde52cb31de33e46245e05fbdbd6fb24"},
      {"abc", "a448017aaf21d8525fc10ae87aa6729d"},
      {"message digest", "d9130a8164549fe818874806e1c7014b"},
      {"abcdefghijklmnopqrstuvwxyz", "d79e1c308aa5bbcdeea8ed63df412da9"},
      {kFiftySix, "4691a9ec81b1a6bd1ab8557240b245c5"},
      {kAlnum, "043f8582f241db351ce627e153e7f0e4"},
      {kEighty, "e33b4ddc9c38f2199c3e7b164fcc0536"},
  };
  THash_MD4 h;
  EXPECT_EQ(h.DigestSize(), 16);
  for (const Vector& v : rows) EXPECT_EQ(DigestHex(h, v.message), v.digest) << v.message;
}

TEST(HashRipeMD256, PublishedDigests) {
  const Vector rows[] = {
      {"", "02ba4c4e5f8ecd1877fc52d64d30e37a2d9774fb1e5d026380ae0168e3c5522d"},
      {"a", "f9333e45d857f5d90a91bab70a1eba0cfb1be4b0783c9acfcd883a9134692925"},
      {"abc", "afbd6e228b9d8cbbcef5ca2d03e6dba10ac0bc7dcbe4680e1e42d2e975459b65"},
      {"message digest", "87e971759a1ce47a514d5c914c392c9018c7c46bc14465554afcdf54a5070c0e"},
      {"abcdefghijklmnopqrstuvwxyz",
       "649d3034751ea216776bf9a18acc81bc7896118a5197968782dd1fd97d8d5133"},
      {kFiftySix, "3843045583aac6c8c8d9128573e7a9809afb2a0f34ccc36ea9e72f16f6368e3f"},
      {kAlnum, "5740a408ac16b720b84424ae931cbb1fe363d1d0bf4017f1a89f7ea6de77a0b8"},
      {kEighty, "06fdcc7a409548aaf91368c06a6275b553e3f099bf0ea4edfd6778df89a890dd"},
  };
  THash_RipeMD256 h;
  EXPECT_EQ(h.DigestSize(), 32);
  for (const Vector& v : rows) EXPECT_EQ(DigestHex(h, v.message), v.digest) << v.message;
}

TEST(HashMD4, MillionA) {
  THash_MD4 h;
  h.Reset();
  const std::string chunk(1000, 'a');
  for (int i = 0; i < 1000; ++i) h.Update(chunk.data(), 1000);
  h.Finish();
  EXPECT_EQ(Hex(h.Digest(), 16), "bbce80cc6bb65e5c6745e30d4eeca9a4");
}

TEST(HashRipeMD256, MillionA) {
  THash_RipeMD256 h;
  h.Reset();
  const std::string chunk(1000, 'a');
  for (int i = 0; i < 1000; ++i) h.Update(chunk.data(), 1000);
  h.Finish();
  EXPECT_EQ(Hex(h.Digest(), 32),
            "ac953744e10e31514c150d4d8d7b677342e33399788296e43ae4850ce4f97978");
}

TEST(Hash, PiecesEqualWholeForEveryLength) {
  std::string data(140, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 37 + 11);
  THash_MD4 md4;
  THash_RipeMD256 ripe;
  for (THash* h : {static_cast<THash*>(&md4), static_cast<THash*>(&ripe)}) {
    for (size_t n = 50; n <= 130; ++n) {
      const std::string part = data.substr(0, n);
      const std::string whole = DigestHex(*h, part);
      for (size_t piece : {1u, 3u, 7u, 63u, 64u, 65u}) {
        h->Reset();
        for (size_t i = 0; i < n; i += piece)
          h->Update(part.data() + i, static_cast<int64_t>(std::min(piece, n - i)));
        h->Finish();
        EXPECT_EQ(Hex(h->Digest(), static_cast<size_t>(h->DigestSize())), whole)
            << n << "/" << piece;
      }
    }
  }
}

TEST(Hash, PaddingBoundariesGiveDistinctDigests) {
  THash_RipeMD256 h;
  std::vector<std::string> seen;
  for (size_t n : {55u, 56u, 63u, 64u, 65u}) {
    const std::string d = DigestHex(h, std::string(n, 'x'));
    for (const std::string& s : seen) EXPECT_NE(d, s) << n;
    seen.push_back(d);
  }
}

TEST(Hash, NonPositiveSizesAddNothing) {
  THash_RipeMD256 h;
  const std::string empty = DigestHex(h, "");
  h.Reset();
  h.Update("abc", 0);
  h.Update("abc", -5);
  h.Update(nullptr, 3);
  h.Finish();
  EXPECT_EQ(Hex(h.Digest(), 32), empty);
}

TEST(Hash, KeyTextWithTrailingNulDiffers) {
  std::string key(33, '\0');
  for (int i = 0; i < 32; ++i) key[static_cast<size_t>(i)] = static_cast<char>(0x41 + i);
  const AnsiString full = DigestText(&THash_RipeMD256::Create, key);
  const AnsiString cut = DigestText(&THash_RipeMD256::Create, key.substr(0, 32));
  EXPECT_EQ(full.size(), 32u);
  EXPECT_NE(full, cut);
  const auto direct = THash_RipeMD256::DigestOf(key);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(direct.data()), 32), full);
}

TEST(Hash, DigestTextInFormatsAndClasses) {
  EXPECT_EQ(DigestText(&THash_MD4::Create, "abc", nullptr, fmtHEXL),
            "a448017aaf21d8525fc10ae87aa6729d");
  EXPECT_EQ(DigestText(&THash_MD4::Create, "abc", nullptr, fmtHEX),
            "A448017AAF21D8525FC10AE87AA6729D");
  EXPECT_EQ(
      FormatToBytes(DigestText(&THash_RipeMD256::Create, "abc", nullptr, fmtMIME64), fmtMIME64),
      DigestText(&THash_RipeMD256::Create, "abc"));
  THash_RipeMD256 h;
  EXPECT_EQ(h.HashClass(), &THash_RipeMD256::Create);
  EXPECT_EQ(h.HashClass()()->DigestSize(), 32);
}

TEST(Hash, FinishZeroesTheBufferAndDigestIsWritable) {
  THash_RipeMD256 h;
  h.Reset();
  h.Update("secret", 6);
  h.Finish();
  std::memset(h.Digest(), 0, 32);
  for (int i = 0; i < 32; ++i) EXPECT_EQ(h.Digest()[i], 0);
  // Reset brings back the start values.
  EXPECT_EQ(DigestHex(h, "abc"),
            "afbd6e228b9d8cbbcef5ca2d03e6dba10ac0bc7dcbe4680e1e42d2e975459b65");
}

// A protection that flips every bit of what it is given.
class TFlip : public TProtection {
 public:
  void ProcessChunk(void* Buffer, int32_t Size, TProtectionAction Action) override {
    auto* p = static_cast<uint8_t*>(Buffer);
    for (int32_t i = 0; i < Size; ++i) p[i] = static_cast<uint8_t>(~p[i]);
    TProtection::ProcessChunk(Buffer, Size, Action);
  }
};

TEST(Hash, FollowingProtectionScramblesTheDigest) {
  const AnsiString plain = DigestText(&THash_MD4::Create, "abc");
  const AnsiString flipped = DigestText(&THash_MD4::Create, "abc", std::make_shared<TFlip>());
  ASSERT_EQ(flipped.size(), 16u);
  for (size_t i = 0; i < 16; ++i)
    EXPECT_EQ(static_cast<uint8_t>(flipped[i]), static_cast<uint8_t>(~plain[i]));
}

TEST(Mac, KeyedDigests) {
  const AnsiString plain = DigestText(&THash_RipeMD256::Create, "message");
  EXPECT_EQ(DigestText(&THash_RipeMD256::Create, "message", std::make_shared<TMAC>("")), plain);
  const AnsiString k1 =
      DigestText(&THash_RipeMD256::Create, "message", std::make_shared<TMAC>("key1"));
  const AnsiString k1again =
      DigestText(&THash_RipeMD256::Create, "message", std::make_shared<TMAC>("key1"));
  const AnsiString k2 =
      DigestText(&THash_RipeMD256::Create, "message", std::make_shared<TMAC>("key2"));
  EXPECT_EQ(k1, k1again);
  EXPECT_NE(k1, plain);
  EXPECT_NE(k1, k2);
  // The MAC's own next protection scrambles the finished digest (and the key digest).
  const AnsiString k1flip = DigestText(&THash_RipeMD256::Create, "message",
                                       std::make_shared<TMAC>("key1", std::make_shared<TFlip>()));
  EXPECT_NE(k1flip, k1);
}

TEST(Mac, StateIsKeyDigestXoredIntoStartValues) {
  // After Reset the state is the start values XOR the digest of the key.
  THash_MD4 keyed(std::make_shared<TMAC>("k"));
  keyed.Reset();
  THash_MD4 plain;
  plain.Reset();
  const AnsiString kd = DigestText(&THash_MD4::Create, "k");
  for (int i = 0; i < 16; ++i)
    EXPECT_EQ(
        keyed.Digest()[i],
        static_cast<uint8_t>(plain.Digest()[i] ^ static_cast<uint8_t>(kd[static_cast<size_t>(i)])));
}

TEST(HashProtection, DigestActionHashesAStream) {
  THash_RipeMD256 h;
  TMemoryStream m;
  m.WriteBuffer("abc", 3);
  h.ProcessStream(&m, nullptr, -1, paDigest);
  EXPECT_EQ(Hex(h.Digest(), 32),
            "afbd6e228b9d8cbbcef5ca2d03e6dba10ac0bc7dcbe4680e1e42d2e975459b65");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(m.Memory()), 3), "abc");
}

TEST(HashProtection, EncodeAndDecodeAreInverseAndScrambleIsOneWay) {
  THash_MD4 h;
  std::string data(100, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i);
  std::string work = data;
  h.ProcessBuffer(work.data(), 100, paEncode);
  EXPECT_NE(work, data);
  h.ProcessBuffer(work.data(), 100, paDecode);
  EXPECT_EQ(work, data);
  std::string a = data, b = data;
  h.ProcessBuffer(a.data(), 100, paScramble);
  h.ProcessBuffer(b.data(), 100, paScramble);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, data);
  h.AllowedActions = ActionBit(paDigest);
  std::string c = data;
  h.ProcessBuffer(c.data(), 100, paScramble);
  EXPECT_EQ(c, data);
}

}  // namespace
}  // namespace zk
