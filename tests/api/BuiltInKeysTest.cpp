// The scrambled stored texts and the built-in passwords rebuilt from them.
#include <gtest/gtest.h>

#include "container/api/BuiltInKeys.h"
#include "platform/rtl/Exception.h"

namespace zk {
namespace {

TEST(DecodeHiddenText, EmptyAndSinglePairGiveEmptyText) {
  EXPECT_EQ(DecodeHiddenText("", "key"), "");
  EXPECT_EQ(DecodeHiddenText("7F", "key"), "");
}

TEST(DecodeHiddenText, FollowsTheSteps) {
  // Prev 0x10; 0x52 xor 'A' = 0x13 > 0x10 gives 3; 0x41 xor 'A' = 0 <= 0x52
  // gives 0 + 255 - 0x52 = 0xAD.
  EXPECT_EQ(DecodeHiddenText("105241", "A"), AnsiString("\x03\xAD"));
  // Lower-case digits are accepted the same.
  EXPECT_EQ(DecodeHiddenText("ab52", "A"), DecodeHiddenText("AB52", "A"));
}

TEST(DecodeHiddenText, KeyTextIsUsedCyclicallyFromItsFirstCharacter) {
  // Prev 0; each pair equals the key character it is combined with, so every
  // V is 0 before the prev step: 0 <= prev gives 255 - prev.
  AnsiString hex =
      "00"
      "41"
      "42"
      "41";  // key "AB": A, B, then A again
  AnsiString got = DecodeHiddenText(hex, "AB");
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(static_cast<unsigned char>(got[0]), 255u);  // 0 <= Prev 0: 0 + 255 - 0
  EXPECT_EQ(static_cast<unsigned char>(got[1]), 255u - 0x41);
  EXPECT_EQ(static_cast<unsigned char>(got[2]), 255u - 0x42);
}

TEST(DecodeHiddenText, RoundTripsThroughEncode) {
  struct Case {
    AnsiString Plain, Key;
    uint8_t First;
  } cases[] = {
      {"a", "k", 0},
      {"hello world", "xyz", 0x80},
      {"\xFF\x01\x7F", "AB", 0xFF},
      {"short", "a much longer key text", 7},
      {"\xB2\xE2\xCA\xD4", "", 0x33},
  };
  for (const Case& c : cases) {
    AnsiString stored = EncodeHiddenText(c.Plain, c.Key, c.First);
    EXPECT_EQ(stored.size(), 2 * (c.Plain.size() + 1));
    EXPECT_EQ(DecodeHiddenText(stored, c.Key), c.Plain) << c.Plain;
  }
}

TEST(DecodeHiddenText, NonHexDigitRaises) {
  EXPECT_THROW(DecodeHiddenText("10ZZ", "A"), Exception);
}

TEST(DecodeStoredPassword, ReadsKeyLengthThenKeyThenPassword) {
  AnsiString key = "k3y-text";
  AnsiString scrambledKey = EncodeHiddenText(key, "stored", 0x21);
  ASSERT_EQ(scrambledKey.size(), 18u);
  AnsiString stored = "18" + scrambledKey + EncodeHiddenText("the-password!", key, 0x99);
  EXPECT_EQ(DecodeStoredPassword(stored, "stored"), "the-password!");
}

TEST(DecodeStoredPassword, MalformedTextsRaise) {
  for (const char* bad : {"", "1", "x0", "99AB"}) {
    EXPECT_THROW(DecodeStoredPassword(bad, "stored"), Exception) << bad;
  }
}

TEST(BuiltInPasswords, HaveTheirLengthsAndDiffer) {
  AnsiString current = GetCurrentBuiltInPassword();
  AnsiString legacy = GetLegacyBuiltInPassword();
  EXPECT_EQ(current.size(), 13u);
  EXPECT_EQ(legacy.size(), 16u);
  EXPECT_NE(current, legacy);
  EXPECT_EQ(current.find('\0'), AnsiString::npos);
  EXPECT_EQ(GetCurrentBuiltInPassword(), current);
}

}  // namespace
}  // namespace zk
