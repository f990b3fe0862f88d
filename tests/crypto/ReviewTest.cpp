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
