// Known answers for the bytes stored documents depend on, computed with a
// separate straightforward implementation (textbook Rijndael rounds, the
// cipher's own 8-word key expansion, RIPEMD-256 from its definition, chaining
// mode 0 and CRC-16/ARC bit by bit), and a few calls with unusual arguments.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "container/crypto/CheckValue.h"
#include "container/crypto/Cipher.h"
#include "container/crypto/Hash.h"
#include "container/crypto/PasswordBlock.h"
#include "container/crypto/Random.h"

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

AnsiString Text(const TBytes& bytes) {
  return AnsiString(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// 32 master-key bytes with a NUL at both ends.
const TBytes MasterKey = Hex("00203d5a7794b1ceeb0825425f7c99b6d3f00d2a4764819ebbd8f5122f4c6900");

TBytes Page(size_t size) {
  TBytes page(size);
  for (size_t i = 0; i < size; ++i) page[i] = static_cast<uint8_t>(i * 7 + 1);
  return page;
}

// The whole block, field by field, as stored: key field, password field, the
// two check values and the question field ending in a 4-byte partial block.
TEST(CryptoKnownAnswers, PasswordBlockBytes) {
  const AnsiString password("pa\0ss", 5);
  const AnsiString question("\xC4\xE3\xBA\xC3 pet?", 9);
  const AnsiString answer("Rex\0", 4);
  TPasswordBlock block;
  BuildPasswordBlockWithKey(block, MasterKey.data(), password, question, answer);
  const auto* p = reinterpret_cast<const uint8_t*>(&block);
  EXPECT_EQ(TBytes(p, p + 172),
            Hex("42f53da7648e9dba277de836c4cfb365a7d2c486f9a3924a7bc51b4246684560"
                "52e88e047c16b1ae738a7095cc1b96ce32fc82de96d84991c046243407d1429e"
                "6f890000"
                "26e00000"
                "e4b2519a75b16f04862fd236646421199a949eb84429ee3803b3026aa74bdc68"
                "89ee537e2ae5bd424df96794a931723466eec97031600e1b86a3986d73eb5878"
                "db15f452a2a9da1ed27c72f547bd32b05912071cc369f2329efb187599eb84a6"
                "af825ae3"));

  AnsiString keyText;
  ASSERT_TRUE(OpenPasswordBlock(block, password, keyText));
  TBytes expected = MasterKey;
  expected.push_back(0);
  EXPECT_EQ(keyText, Text(expected));
}

// A 4064-byte page under the 33-byte master key text (final NUL hashed too),
// and a page whose last 6 bytes form a partial block.
TEST(CryptoKnownAnswers, PageUnderTheMasterKeyText) {
  TBytes keyBytes = MasterKey;
  keyBytes.push_back(0);
  const AnsiString keyText = Text(keyBytes);
  ASSERT_EQ(keyText.size(), 33u);

  const TBytes plain = Page(4064);
  TBytes page = plain;
  TCipher_Rijndael(keyText).EncryptBuffer(page.data(), page.data(), 4064);
  EXPECT_EQ(TBytes(page.begin(), page.begin() + 16), Hex("4fb8ff70bf48a53d2393ad705fe64feb"));
  EXPECT_EQ(TBytes(page.end() - 16, page.end()), Hex("36c9465ca8f4de051a34776bc80a517e"));
  const auto digest = THash_RipeMD256::DigestOf(page.data(), 4064);
  EXPECT_EQ(TBytes(digest.begin(), digest.end()),
            Hex("042a1b2bf1c8de6cb349129475c33f41e3346c3e62c06f3c95faf4bddead7280"));
  TCipher_Rijndael(keyText).DecryptBuffer(page.data(), page.data(), 4064);
  EXPECT_EQ(page, plain);

  // Without the final NUL the key is another one.
  TBytes other = plain;
  TCipher_Rijndael(keyText.substr(0, 32)).EncryptBuffer(other.data(), other.data(), 4064);
  EXPECT_EQ(TBytes(other.begin(), other.begin() + 16), Hex("d677aef2da8d32606c5ce111a2e709d0"));

  TBytes odd = Page(4064);
  for (char c : std::string("abcdef")) odd.push_back(static_cast<uint8_t>(c));
  const TBytes oddPlain = odd;
  TCipher_Rijndael(keyText).EncryptBuffer(odd.data(), odd.data(), 4070);
  EXPECT_EQ(TBytes(odd.end() - 22, odd.end()), Hex("36c9465ca8f4de051a34776bc80a517ef08ea6cc012c"));
  TCipher_Rijndael(keyText).DecryptBuffer(odd.data(), odd.data(), 4070);
  EXPECT_EQ(odd, oddPlain);
}

// Digests at the padding boundaries (one or two final blocks).
TEST(CryptoKnownAnswers, DigestsAtPaddingBoundaries) {
  struct Row {
    size_t Size;
    const char* Md4;
    const char* RipeMD256;
  };
  const Row rows[] = {
      {55, "6cca0c744e9bc4fa913169558377fbba",
       "865026228142520c6c82eaa9633a264755be4cfa6da31db38293d9f0fe9717da"},
      {56, "d922db7b12a3e5c5b2ba42888e683018",
       "a668ace49aded73791154104ddbda22db72f8188c5db262714e7bc36d76013d8"},
      {63, "3b957b68471313efde691f4a3b052567",
       "a5b8c2806673ca1f10ad0149314748c2f55c44d7624b5def75b418cf9cf152ab"},
      {64, "9f0d5ce97f5342937c8971e6da28dd46",
       "5fea21a77c80e8c0f652907974ba7b9f696f331e585fde57b993f339e71af3cf"},
      {65, "552a1758bfae36468d7bdde13f589620",
       "240afaa6eb8c344073f3d895a3cb7401ad21502ded73579285270f54de251afc"},
      {119, "da03f1576623c8df9ff9a2a34f178c64",
       "7bcf0ce86d67095b27e41dbbb5ed88f01cc1c81a778754e2c6192e39e0968f9e"},
      {120, "ba9a90900afde8b28a962aae2bcab45e",
       "610097a7f702db8fa8a539cde26f3a9d4e6b5c0899151cc891a3ae3de7270974"},
      {128, "30d7ef884bca324048651888e3d5fc58",
       "c9e07748f884c24bd25b32d78cde158bc48206890cda70d18d7bef7285b926d0"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.Size);
    TBytes data(r.Size);
    for (size_t i = 0; i < r.Size; ++i) data[i] = static_cast<uint8_t>(i * 37 + 11);
    THash_MD4 md4;
    md4.Reset();
    md4.Update(data.data(), static_cast<int64_t>(r.Size));
    md4.Finish();
    EXPECT_EQ(TBytes(md4.Digest(), md4.Digest() + 16), Hex(r.Md4));
    const auto ripe = THash_RipeMD256::DigestOf(data.data(), static_cast<int64_t>(r.Size));
    EXPECT_EQ(TBytes(ripe.begin(), ripe.end()), Hex(r.RipeMD256));
  }
}

// The password may be the very string that receives the master key text.
TEST(CryptoReview, OpenPasswordBlockIntoThePasswordItself) {
  TPasswordBlock block;
  BuildPasswordBlockWithKey(block, MasterKey.data(), "secret", "", "");
  AnsiString text = "secret";
  EXPECT_TRUE(OpenPasswordBlock(block, text, text));
  TBytes expected = MasterKey;
  expected.push_back(0);
  EXPECT_EQ(text, Text(expected));
}

// Counts the buffers that pass through it with the scramble action.
class TScrambleCounter : public TProtection {
 public:
  void ProcessChunk(void* Buffer, int32_t Size, TProtectionAction Action) override {
    if (Action == paScramble) ++Scrambles;
    TProtection::ProcessChunk(Buffer, Size, Action);
  }
  int Scrambles = 0;
};

// Freeing a generator reseeds it to the basic state once, which passes the
// register through its protection once.
TEST(CryptoReview, FreeingAGeneratorReseedsItOnce) {
  for (bool lfsr : {true, false}) {
    SCOPED_TRACE(lfsr ? "TRandom_LFSR" : "TRandom");
    auto counter = std::make_shared<TScrambleCounter>();
    std::unique_ptr<TRandom> generator;
    if (lfsr) {
      generator = std::make_unique<TRandom_LFSR>("seed", 2032, false, counter);
    } else {
      generator = std::make_unique<TRandom>("seed", 32, false, counter);
    }
    counter->Scrambles = 0;
    generator.reset();
    EXPECT_EQ(counter->Scrambles, 1);
  }
}

}  // namespace
}  // namespace zk
