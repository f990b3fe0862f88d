#include "container/crypto/PasswordBlock.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "container/crypto/CheckValue.h"
#include "container/crypto/Cipher.h"

namespace zk {
namespace {

using TBytes = std::vector<uint8_t>;

TBytes BytesAt(const TPasswordBlock& block, size_t offset, size_t size) {
  const auto* p = reinterpret_cast<const uint8_t*>(&block);
  return TBytes(p + offset, p + offset + size);
}

TPasswordBlock Filled(uint8_t value) {
  TPasswordBlock block;
  std::memset(&block, value, sizeof block);
  return block;
}

TBytes Decrypted(const AnsiString& keyText, TBytes data) {
  TCipher_Rijndael(keyText).DecryptBuffer(data.data(), data.data(),
                                          static_cast<int32_t>(data.size()));
  return data;
}

TBytes Padded(const AnsiString& text, size_t size) {
  TBytes out(size, 0);
  std::memcpy(out.data(), text.data(), text.size());
  return out;
}

uint32_t Crc16(const TBytes& data) {
  return ComputeCheckValue(data.data(), static_cast<uint32_t>(data.size()), ckCrc16);
}

TEST(PasswordBlock, LayoutConstants) {
  EXPECT_EQ(sizeof(TPasswordBlock), 172u);
  EXPECT_EQ(QuestionKeyText, "Qm7;vT!r2#Lp9wE&k");
  EXPECT_EQ(QuestionKeyText.size(), 17u);
  EXPECT_EQ(MaxPasswordLength, 32);
  EXPECT_EQ(MaxQuestionLength, 100);
}

// Passwords up to 32 and questions up to 100 bytes are accepted; longer ones
// are rejected before anything is written to the block.
TEST(PasswordBlock, LengthLimits) {
  struct Case {
    size_t Password;
    size_t Question;
    const char* Error;  // nullptr: accepted
  };
  const Case cases[] = {
      {32, 100, nullptr},
      {1, 0, nullptr},
      {33, 0, "Password length should be shorter then 32"},
      {33, 100, "Password length should be shorter then 32"},
      {32, 101, "Question length should be shorter then 100"},
      {40, 200, "Password length should be shorter then 32"},  // the password is checked first
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.Password) + "/" + std::to_string(c.Question));
    const AnsiString password(c.Password, 'p');
    const AnsiString question(c.Question, 'q');
    TPasswordBlock block = Filled(0xCC);
    if (c.Error == nullptr) {
      BuildPasswordBlock(block, password, question, "answer");
      AnsiString key;
      EXPECT_TRUE(OpenPasswordBlock(block, password, key));
      if (!question.empty()) {
        EXPECT_EQ(PasswordBlockQuestion(block), question);
      }
    } else {
      try {
        BuildPasswordBlock(block, password, question, "answer");
        FAIL() << "no exception";
      } catch (const ECipherException&) {
        FAIL() << "wrong exception";
      } catch (const Exception& e) {
        EXPECT_EQ(e.Message, c.Error);
      }
      EXPECT_EQ(BytesAt(block, 0, 172), TBytes(172, 0xCC));
    }
  }
}

TEST(PasswordBlock, OpensWithItsPassword) {
  TPasswordBlock block;
  BuildPasswordBlock(block, "secret", "", "");
  AnsiString key = "old";
  ASSERT_TRUE(OpenPasswordBlock(block, "secret", key));
  ASSERT_EQ(key.size(), 33u);
  EXPECT_EQ(key[32], '\0');
  EXPECT_EQ(ComputeCheckValue(key.data(), 32, ckCrc16), block.MasterKeyCheck);
  EXPECT_EQ(block.MasterKeyCheck >> 16, 0u);
  // The enciphered key field is the master key enciphered with the password.
  TBytes field = BytesAt(block, 0, 32);
  EXPECT_EQ(Decrypted("secret", field), TBytes(key.begin(), key.begin() + 32));

  // Opening again gives the same text.
  AnsiString again;
  EXPECT_TRUE(OpenPasswordBlock(block, "secret", again));
  EXPECT_EQ(again, key);
}

TEST(PasswordBlock, WrongAndEmptyPasswords) {
  TPasswordBlock block;
  BuildPasswordBlock(block, "right", "Q?", "A");
  AnsiString right;
  ASSERT_TRUE(OpenPasswordBlock(block, "right", right));

  for (const AnsiString& wrong : {AnsiString("wrong"), AnsiString("Right"), AnsiString("right", 4),
                                  AnsiString("right\0", 6), AnsiString("A")}) {
    AnsiString key = "unchanged";
    EXPECT_FALSE(OpenPasswordBlock(block, wrong, key)) << wrong;
    EXPECT_EQ(key.size(), 33u);  // still replaced
    EXPECT_EQ(key[32], '\0');
    EXPECT_NE(key, right);
  }

  AnsiString key = "unchanged";
  EXPECT_FALSE(OpenPasswordBlock(block, "", key));
  EXPECT_EQ(key, "unchanged");
}

TEST(PasswordBlock, PasswordBytesCountInFull) {
  const AnsiString password("a\0b", 3);
  TPasswordBlock block;
  BuildPasswordBlock(block, password, "", "");
  AnsiString key;
  EXPECT_TRUE(OpenPasswordBlock(block, password, key));
  EXPECT_FALSE(OpenPasswordBlock(block, "a", key));
}

// Without both a question and an answer the password and question fields and
// the password check value stay zero.
TEST(PasswordBlock, QuestionAndAnswerOnlyTogether) {
  struct Case {
    const char* Question;
    const char* Answer;
  };
  for (const Case& c : {Case{"", ""}, Case{"Pet?", ""}, Case{"", "Rex"}}) {
    SCOPED_TRACE(std::string(c.Question) + "/" + c.Answer);
    TPasswordBlock block = Filled(0xCC);
    BuildPasswordBlock(block, "pw", c.Question, c.Answer);
    EXPECT_EQ(BytesAt(block, 32, 32), TBytes(32, 0));
    EXPECT_EQ(BytesAt(block, 68, 104), TBytes(104, 0));
    EXPECT_NE(BytesAt(block, 0, 32), TBytes(32, 0));
    EXPECT_EQ(PasswordBlockQuestion(block), "");
    AnsiString recovered = "unchanged";
    EXPECT_FALSE(RecoverPassword(block, "Rex", recovered));
    EXPECT_EQ(recovered, "unchanged");
  }
}

// The question deciphers with QuestionKeyText, the password field with the
// answer; the password check value covers the plain password field.
TEST(PasswordBlock, QuestionAndPasswordFieldsDecipher) {
  const AnsiString password("pass\x81\x40word", 10);
  const AnsiString question = "\xC4\xE3\xBA\xC3 what is the name of the first pet?";
  const AnsiString answer("Rex\0", 4);
  TPasswordBlock block;
  BuildPasswordBlock(block, password, question, answer);

  EXPECT_EQ(Decrypted(AnsiString(QuestionKeyText), BytesAt(block, 72, 100)), Padded(question, 100));
  const TBytes passwordField = Decrypted(answer, BytesAt(block, 32, 32));
  EXPECT_EQ(passwordField, Padded(password, 32));
  EXPECT_EQ(Crc16(passwordField), block.PasswordCheck);
  EXPECT_EQ(block.PasswordCheck >> 16, 0u);

  EXPECT_EQ(PasswordBlockQuestion(block), question);
  AnsiString recovered;
  EXPECT_TRUE(RecoverPassword(block, answer, recovered));
  EXPECT_EQ(recovered, password);
  EXPECT_FALSE(RecoverPassword(block, "Rex", recovered));  // the NUL counts
  EXPECT_FALSE(RecoverPassword(block, "", recovered));
}

// Every build draws a new master key.
TEST(PasswordBlock, EachBuildDrawsANewKey) {
  std::set<TBytes> keyFields;
  std::set<AnsiString> keyTexts;
  std::set<uint32_t> checks;
  for (int i = 0; i < 4; ++i) {
    TPasswordBlock block;
    BuildPasswordBlock(block, "same", "same?", "same");
    keyFields.insert(BytesAt(block, 0, 32));
    checks.insert(block.MasterKeyCheck);
    AnsiString key;
    ASSERT_TRUE(OpenPasswordBlock(block, "same", key));
    keyTexts.insert(key);
  }
  EXPECT_EQ(keyFields.size(), 4u);
  EXPECT_EQ(keyTexts.size(), 4u);
  EXPECT_GT(checks.size(), 1u);  // 16-bit values: equal ones are possible, all equal is not
}

// A block rebuilt with the old master key opens the same pages.
TEST(PasswordBlock, RebuildWithTheSameKey) {
  TPasswordBlock block;
  BuildPasswordBlock(block, "old", "", "");
  AnsiString key;
  ASSERT_TRUE(OpenPasswordBlock(block, "old", key));

  TBytes page(4064);
  for (size_t i = 0; i < page.size(); ++i) page[i] = static_cast<uint8_t>(i * 7);
  const TBytes plain = page;
  TCipher_Rijndael(key).EncryptBuffer(page.data(), page.data(), 4064);

  // The key may come from the block itself.
  BuildPasswordBlockWithKey(block, key.data(), "new", "Where?", "Here");
  AnsiString newKey;
  EXPECT_FALSE(OpenPasswordBlock(block, "old", newKey));
  ASSERT_TRUE(OpenPasswordBlock(block, "new", newKey));
  EXPECT_EQ(newKey, key);
  EXPECT_EQ(PasswordBlockQuestion(block), "Where?");
  TCipher_Rijndael(newKey).DecryptBuffer(page.data(), page.data(), 4064);
  EXPECT_EQ(page, plain);

  TPasswordBlock untouched = Filled(0xCC);
  EXPECT_THROW(BuildPasswordBlockWithKey(untouched, key.data(), AnsiString(33, 'x'), "", ""),
               Exception);
  EXPECT_EQ(BytesAt(untouched, 0, 172), TBytes(172, 0xCC));
}

// An empty password cannot key the cipher.
TEST(PasswordBlock, EmptyPasswordRaisesTheCipherError) {
  TPasswordBlock block = Filled(0xCC);
  try {
    BuildPasswordBlock(block, "", "Q", "A");
    FAIL() << "no exception";
  } catch (const ECipherException& e) {
    EXPECT_EQ(e.ErrorCode, 3);
    EXPECT_EQ(e.Message, "TCipher_Rijndael is not initialized call Init() or InitKey() before.");
  }
  EXPECT_EQ(BytesAt(block, 0, 64), TBytes(64, 0));
  EXPECT_EQ(BytesAt(block, 68, 104), TBytes(104, 0));
}

// A damaged check value never opens (its upper half must be zero too); a
// damaged key field gives a key text of the usual size either way.
TEST(PasswordBlock, DamagedBlock) {
  TPasswordBlock block;
  BuildPasswordBlock(block, "pw", "", "");
  for (size_t offset : {0u, 17u, 31u, 64u, 65u, 66u, 67u}) {
    TPasswordBlock damaged = block;
    reinterpret_cast<uint8_t*>(&damaged)[offset] ^= 0x01;
    AnsiString key;
    const bool opened = OpenPasswordBlock(damaged, "pw", key);
    EXPECT_EQ(key.size(), 33u);
    if (offset >= 64) {
      EXPECT_FALSE(opened) << offset;
    }
  }
}

TEST(PasswordBlock, RandomSeedText) {
  EXPECT_EQ(RandomSeedText(0), "");
  EXPECT_EQ(RandomSeedText(-3), "");
  const AnsiString text = RandomSeedText(1000);
  ASSERT_EQ(text.size(), 1000u);
  std::set<unsigned char> seen;
  for (char c : text) {
    EXPECT_NE(c, '\0');
    seen.insert(static_cast<unsigned char>(c));
  }
  EXPECT_GT(seen.size(), 200u);  // spread over the 255 codes
  EXPECT_NE(RandomSeedText(100), RandomSeedText(100));
}

TEST(PasswordBlock, MakeRandomKey) {
  uint8_t a[32] = {};
  uint8_t b[32] = {};
  MakeRandomKey(a, 32);
  MakeRandomKey(b, 32);
  EXPECT_NE(TBytes(a, a + 32), TBytes(b, b + 32));
  EXPECT_NE(TBytes(a, a + 32), TBytes(32, 0));

  uint8_t untouched[4] = {1, 2, 3, 4};
  MakeRandomKey(untouched, 0);
  MakeRandomKey(untouched, -1);
  EXPECT_EQ(TBytes(untouched, untouched + 4), (TBytes{1, 2, 3, 4}));
}

}  // namespace
}  // namespace zk
