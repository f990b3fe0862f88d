#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "container/engine/SFSStrFunc.h"
#include "platform/os/testing/FakeClock.h"

namespace zk {
namespace {

int Sign(int v) {
  return v < 0 ? -1 : (v > 0 ? 1 : 0);
}

TCollationTables TurkishTables() {
  os::testing::TFakeLocale locale;
  locale.LocaleId = os::LocaleTurkish;
  return BuildCollationTables(locale);
}

// A locale whose one-character collation is plain byte order with ASCII
// upper-casing: a permutation, like the single-byte code pages.
class TByteOrderLocale : public os::ILocale {
 public:
  uint32_t UserDefaultLocale() override { return 1033; }
  int CompareOneChar(unsigned char a, unsigned char b) override { return int(a) - int(b); }
  int CompareTextIgnoreCase(std::string_view, std::string_view) override {
    ADD_FAILURE() << "the fallback is not used over a permutation";
    return 0;
  }
  unsigned char UpperChar(unsigned char c) override {
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c;
  }
};

TEST(Collation, TurkishTablesAreTheFixedOnes) {
  const TCollationTables t = TurkishTables();
  // Spot checks against the rows of the fixed table, then the whole table.
  EXPECT_EQ(t.RankOf[0x00], 0);
  EXPECT_EQ(t.RankOf[0x20], 1);
  EXPECT_EQ(t.RankOf[0x01], 2);
  EXPECT_EQ(t.RankOf[0x40], 64);
  EXPECT_EQ(t.RankOf[0x41], 72);
  EXPECT_EQ(t.RankOf[0x61], 65);
  EXPECT_EQ(t.RankOf[0x80], 248);
  EXPECT_EQ(t.RankOf[0x9E], 255);
  EXPECT_EQ(t.RankOf[0xDD], 118);
  EXPECT_EQ(t.RankOf[0xFF], 173);
  const uint8_t rows[16][16] = {
      {0, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16},
      {17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32},
      {1, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47},
      {48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 63},
      {64, 72, 82, 84, 88, 94, 100, 102, 106, 112, 120, 122, 124, 126, 129, 136},
      {144, 146, 148, 150, 155, 160, 167, 169, 171, 174, 176, 177, 178, 179, 180, 181},
      {182, 65, 81, 83, 87, 89, 99, 101, 105, 117, 119, 121, 123, 125, 127, 131},
      {143, 145, 147, 149, 154, 156, 166, 168, 170, 172, 175, 183, 184, 185, 186, 187},
      {248, 249, 188, 189, 190, 191, 192, 193, 194, 195, 196, 197, 198, 250, 251, 252},
      {253, 199, 200, 201, 202, 203, 204, 205, 206, 207, 208, 209, 210, 254, 255, 211},
      {212, 213, 214, 215, 216, 217, 218, 219, 220, 221, 222, 223, 224, 225, 226, 227},
      {228, 229, 230, 231, 232, 233, 234, 235, 236, 237, 238, 239, 240, 241, 242, 243},
      {74, 76, 75, 77, 80, 73, 78, 86, 98, 95, 96, 97, 116, 113, 114, 115},
      {104, 130, 139, 137, 138, 140, 142, 244, 245, 163, 161, 162, 165, 118, 153, 151},
      {67, 69, 68, 70, 79, 66, 71, 85, 93, 90, 91, 92, 111, 110, 109, 108},
      {103, 128, 133, 132, 134, 135, 141, 246, 247, 158, 159, 157, 164, 107, 152, 173},
  };
  for (int n = 0; n < 256; ++n) {
    EXPECT_EQ(t.RankOf[static_cast<size_t>(n)], rows[n / 16][n % 16]) << "byte " << n;
    EXPECT_EQ(t.CharOfRank[t.RankOf[static_cast<size_t>(n)]], n);
  }
  EXPECT_TRUE(t.RankIsPermutation);
}

TEST(Collation, TurkishUpperCaseMappingIsTheFixedOne) {
  for (int n = 0; n < 256; ++n) {
    int expected = n;
    if (n == 0x20)
      expected = 0x00;
    else if (n == 0x69)
      expected = 0xDD;
    else if (n >= 0x61 && n <= 0x7A)
      expected = n - 0x20;
    else if (n >= 0xE0 && n <= 0xF6)
      expected = n - 0x20;
    else if (n >= 0xF9 && n <= 0xFC)
      expected = n - 0x20;
    else if (n == 0xFD)
      expected = 0x49;
    else if (n == 0xFE)
      expected = 0xDE;
    EXPECT_EQ(TurkishUpperChar(static_cast<uint8_t>(n)), expected) << "byte " << n;
  }
  EXPECT_EQ(TurkishUpperChar(0xF7), 0xF7);
  EXPECT_EQ(TurkishUpperChar(0xF8), 0xF8);
  // UpperRank is that mapping carried over to ranks.
  const TCollationTables t = TurkishTables();
  for (int n = 0; n < 256; ++n) {
    const auto c = static_cast<uint8_t>(n);
    EXPECT_EQ(t.UpperRank[t.RankOf[c]], t.RankOf[TurkishUpperChar(c)]) << "byte " << n;
  }
}

TEST(Collation, TurkishNamesCompareByRankAndUpperCase) {
  const TCollationTables t = TurkishTables();
  struct Case {
    const char* A;
    const char* B;
    int Expected;
  };
  const Case cases[] = {
      {"abc", "ABC", 0},
      {"abc", "abd", -1},
      {"abd", "ABC", 1},
      {"ab", "abc", -1},
      {"", "", 0},
      {"", "a", -1},
      {"\xFD", "I", 0},     // dotless i is the small form of I
      {"i", "\xDD", 0},     // dotted i goes to the dotted capital
      {"i", "I", 1},        // and so differs from I
      {"\xE7", "\xC7", 0},  // c with cedilla
      {"\xE7", "d", -1},    // sorts between c and d
      {"\xE7", "c", 1},
      {"dosya 1", "DOSYA 1", 0},
      {"file", "FILE", 1},  // the upper-case form of i is the dotted capital
      {"file", "F\xDDLE", 0},
      {"a b", "a", 1},  // never equal to its own prefix
      {"a", "a ", -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Sign(CompareNames(t, c.A, c.B)), c.Expected) << c.A << " / " << c.B;
    EXPECT_EQ(Sign(CompareNames(t, c.B, c.A)), -c.Expected) << c.B << " / " << c.A;
  }
}

TEST(Collation, MissingNamesCountAsEmpty) {
  const TCollationTables t = TurkishTables();
  EXPECT_EQ(CompareNames(t, nullptr, nullptr), 0);
  EXPECT_EQ(CompareNames(t, nullptr, ""), 0);
  EXPECT_EQ(CompareNames(t, nullptr, "a"), -1);
  EXPECT_EQ(CompareNames(t, "a", nullptr), 1);
  EXPECT_EQ(CompareNames(t, "", nullptr), 0);
  // The fallback too.
  EXPECT_EQ(CompareNames(nullptr, "a") < 0, true);
  EXPECT_EQ(CompareNames("a", nullptr) > 0, true);
  EXPECT_EQ(CompareNames(nullptr, nullptr), 0);
}

TEST(Collation, NamesAreLeftUnchanged) {
  const TCollationTables t = TurkishTables();
  char a[] = "Dosya\xFD";
  char b[] = "DOSYAI";
  EXPECT_EQ(CompareNames(t, a, b), 0);
  EXPECT_STREQ(a, "Dosya\xFD");
  EXPECT_STREQ(b, "DOSYAI");
}

TEST(Collation, AnyPermutationLocaleBuildsRanksFromItsCollation) {
  TByteOrderLocale locale;
  const TCollationTables t = BuildCollationTables(locale);
  ASSERT_TRUE(t.RankIsPermutation);
  for (int n = 0; n < 256; ++n) EXPECT_EQ(t.RankOf[static_cast<size_t>(n)], n);
  EXPECT_EQ(t.UpperRank['a'], 'A');
  EXPECT_EQ(CompareNames(t, "abc", "ABC"), 0);
  EXPECT_LT(CompareNames(t, "abc", "abd"), 0);
  // Names compare upper-cased: '_' (0x5F) lies below 'z' but above 'Z'.
  EXPECT_GT(CompareNames(t, "a_", "az"), 0);
}

TEST(Collation, PosixLocaleIsNoPermutationAndFallsBack) {
  const TCollationTables t = BuildCollationTables(os::ILocale::Default());
  EXPECT_FALSE(t.RankIsPermutation);
  // The process-wide tables came from the same locale.
  EXPECT_FALSE(CollationTables().RankIsPermutation);
  EXPECT_EQ(CompareNames("abc", "ABC"), 0);
  EXPECT_LT(CompareNames("abc", "abd"), 0);
  EXPECT_GT(CompareNames("abcd", "ABC"), 0);
  // GBK double-byte characters compare as they are.
  EXPECT_NE(CompareNames("\xB5\x61", "\xB5\x41"), 0);
  EXPECT_EQ(CompareNames("\xBC\xC6\xBC\xDB", "\xBC\xC6\xBC\xDB"), 0);
}

TEST(Collation, SortingByCompareNamesIsAConsistentOrder) {
  // Every pair is antisymmetric and the order sorts without complaint.
  const TCollationTables t = TurkishTables();
  std::vector<std::string> names;
  for (const char* base : {"a", "A", "b", "ab", "a b", "\xFD", "I", "i", "\xDD", "\xE7", "c"}) {
    names.emplace_back(base);
    names.emplace_back(std::string(base) + "x");
  }
  for (const auto& x : names) {
    for (const auto& y : names) {
      EXPECT_EQ(Sign(CompareNames(t, x.c_str(), y.c_str())),
                -Sign(CompareNames(t, y.c_str(), x.c_str())))
          << x << " / " << y;
    }
  }
  std::sort(names.begin(), names.end(), [&](const std::string& x, const std::string& y) {
    return CompareNames(t, x.c_str(), y.c_str()) < 0;
  });
  for (size_t i = 1; i < names.size(); ++i) {
    EXPECT_LE(CompareNames(t, names[i - 1].c_str(), names[i].c_str()), 0);
  }
}

}  // namespace
}  // namespace zk
