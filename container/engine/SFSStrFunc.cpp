#include "container/engine/SFSStrFunc.h"

#include <string_view>

namespace zk {

// Row r holds the ranks of bytes r*16 .. r*16+15.
const std::array<uint8_t, 256> TurkishRankOf = {
    0,   2,   3,   4,   5,   6,   7,   8,   9,   10,  11,  12,  13,  14,  15,  16,   //
    17,  18,  19,  20,  21,  22,  23,  24,  25,  26,  27,  28,  29,  30,  31,  32,   //
    1,   33,  34,  35,  36,  37,  38,  39,  40,  41,  42,  43,  44,  45,  46,  47,   //
    48,  49,  50,  51,  52,  53,  54,  55,  56,  57,  58,  59,  60,  61,  62,  63,   //
    64,  72,  82,  84,  88,  94,  100, 102, 106, 112, 120, 122, 124, 126, 129, 136,  //
    144, 146, 148, 150, 155, 160, 167, 169, 171, 174, 176, 177, 178, 179, 180, 181,  //
    182, 65,  81,  83,  87,  89,  99,  101, 105, 117, 119, 121, 123, 125, 127, 131,  //
    143, 145, 147, 149, 154, 156, 166, 168, 170, 172, 175, 183, 184, 185, 186, 187,  //
    248, 249, 188, 189, 190, 191, 192, 193, 194, 195, 196, 197, 198, 250, 251, 252,  //
    253, 199, 200, 201, 202, 203, 204, 205, 206, 207, 208, 209, 210, 254, 255, 211,  //
    212, 213, 214, 215, 216, 217, 218, 219, 220, 221, 222, 223, 224, 225, 226, 227,  //
    228, 229, 230, 231, 232, 233, 234, 235, 236, 237, 238, 239, 240, 241, 242, 243,  //
    74,  76,  75,  77,  80,  73,  78,  86,  98,  95,  96,  97,  116, 113, 114, 115,  //
    104, 130, 139, 137, 138, 140, 142, 244, 245, 163, 161, 162, 165, 118, 153, 151,  //
    67,  69,  68,  70,  79,  66,  71,  85,  93,  90,  91,  92,  111, 110, 109, 108,  //
    103, 128, 133, 132, 134, 135, 141, 246, 247, 158, 159, 157, 164, 107, 152, 173,  //
};

uint8_t TurkishUpperChar(uint8_t c) {
  if (c == 0x20) return 0x00;
  if (c == 0x69) return 0xDD;  // dotted i to dotted capital I
  if (c >= 0x61 && c <= 0x7A) return static_cast<uint8_t>(c - 0x20);
  if (c >= 0xE0 && c <= 0xF6) return static_cast<uint8_t>(c - 0x20);
  if (c >= 0xF9 && c <= 0xFC) return static_cast<uint8_t>(c - 0x20);
  if (c == 0xFD) return 0x49;  // dotless i to I
  if (c == 0xFE) return 0xDE;
  return c;
}

TCollationTables BuildCollationTables(os::ILocale& Locale) {
  TCollationTables t;
  const bool turkish = Locale.UserDefaultLocale() == os::LocaleTurkish;
  if (turkish) {
    t.RankOf = TurkishRankOf;
  } else {
    for (int n = 0; n < 256; ++n) {
      uint8_t before = 0;  // at most 255: n itself never sorts before n
      for (int p = 0; p < 256; ++p) {
        if (Locale.CompareOneChar(static_cast<unsigned char>(p), static_cast<unsigned char>(n)) <
            0) {
          ++before;
        }
      }
      t.RankOf[static_cast<size_t>(n)] = before;
    }
  }
  std::array<bool, 256> seen{};
  for (int i = 0; i < 256; ++i) {
    t.CharOfRank[t.RankOf[static_cast<size_t>(i)]] = static_cast<uint8_t>(i);
    seen[t.RankOf[static_cast<size_t>(i)]] = true;
  }
  t.RankIsPermutation = true;
  for (bool s : seen) t.RankIsPermutation = t.RankIsPermutation && s;
  if (t.RankIsPermutation) {
    for (int n = 0; n < 256; ++n) {
      const auto c = static_cast<uint8_t>(n);
      const uint8_t upper = turkish ? TurkishUpperChar(c) : Locale.UpperChar(c);
      t.UpperRank[t.RankOf[c]] = t.RankOf[upper];
    }
  }
  return t;
}

const TCollationTables& CollationTables() {
  static const TCollationTables tables = BuildCollationTables(os::Locale());
  return tables;
}

namespace {
// Builds the process-wide tables while the program starts, before any
// container is opened.
[[maybe_unused]] const TCollationTables& BuiltAtStartUp = CollationTables();
}  // namespace

int CompareNames(const TCollationTables& Tables, const char* S1, const char* S2) {
  if (!Tables.RankIsPermutation) {
    return os::Locale().CompareTextIgnoreCase(S1 ? std::string_view(S1) : std::string_view(),
                                              S2 ? std::string_view(S2) : std::string_view());
  }
  if (!S1) return (S2 && *S2) ? -1 : 0;
  if (!S2) return *S1 ? 1 : 0;
  const auto* p1 = reinterpret_cast<const unsigned char*>(S1);
  const auto* p2 = reinterpret_cast<const unsigned char*>(S2);
  for (;; ++p1, ++p2) {
    const uint8_t a = Tables.RankOf[*p1], b = Tables.RankOf[*p2];
    if (a == b) {
      if (*p1 == 0) return 0;  // both names end here
      continue;
    }
    const uint8_t upperA = Tables.UpperRank[a], upperB = Tables.UpperRank[b];
    if (upperA != upperB) return int(upperA) - int(upperB);
    // Same upper-case rank. When one name has ended the other must still
    // sort after it: a character whose upper-case form is NUL (the Turkish
    // space) would otherwise make "a b" equal to "a". The ranks order them.
    if (*p1 == 0 || *p2 == 0) return int(a) - int(b);
  }
}

int CompareNames(const char* S1, const char* S2) {
  return CompareNames(CollationTables(), S1, S2);
}

}  // namespace zk
