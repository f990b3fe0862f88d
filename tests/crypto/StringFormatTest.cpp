#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "container/crypto/StringFormat.h"

namespace zk {
namespace {

std::string AllBytes(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 151 + 7) & 0xFF);
  return s;
}

template <class F>
std::string MessageOf(F f) {
  try {
    f();
  } catch (const EStringFormat& e) {
    return e.Message;
  }
  return "<no error>";
}

TEST(StringFormat, RegistryHoldsTheSixFormats) {
  struct Row {
    int32_t id;
    const char* name;
  };
  const Row rows[] = {
      {1, "copy Input to Output"}, {16, "Hexadecimal"},  {1016, "Hexadecimal lowercase"},
      {4196, "MIME Base 64"},      {21845, "UU Coding"}, {22616, "XX Coding"}};
  for (const Row& r : rows) {
    const TStringFormat* f = FindStringFormat(r.id);
    ASSERT_NE(f, nullptr) << r.id;
    EXPECT_EQ(f->FormatId(), r.id);
    EXPECT_EQ(f->DisplayName(), r.name);
  }
  EXPECT_EQ(FindStringFormat(-1), FindStringFormat(4196));
  EXPECT_EQ(FindStringFormat(0), nullptr);
  EXPECT_EQ(FindStringFormat(17), nullptr);
}

TEST(StringFormat, EmptyInputOrIdZeroGivesEmpty) {
  EXPECT_EQ(BytesToFormat("", 16), "");
  EXPECT_EQ(BytesToFormat("abc", 0), "");
  EXPECT_EQ(FormatToBytes("", 4196), "");
  EXPECT_EQ(FormatToBytes("ABCD", 0), "");
  // An empty input does not even look the format up.
  EXPECT_EQ(BytesToFormat("", 12345), "");
}

TEST(StringFormat, UnknownIdIsReported) {
  EXPECT_EQ(MessageOf([] { BytesToFormat("abc", 5); }), "String Format \"5\" not exists.");
  EXPECT_EQ(MessageOf([] { FormatToBytes("abc", -7); }), "String Format \"-7\" not exists.");
}

TEST(StringFormat, NegativeSizeStopsAtTheFirstNul) {
  const char data[] = "ab\0cd";
  EXPECT_EQ(BytesToFormat(data, -1, 16), "6162");
  EXPECT_EQ(BytesToFormat(data, 5, 16), "6162006364");
  EXPECT_EQ(FormatToBytes("4142\0"
                          "43",
                          -1, 16),
            "AB");
}

TEST(StringFormat, CopyKeepsEveryByte) {
  const std::string data("a\0b\xFF", 4);
  EXPECT_EQ(BytesToFormat(data, 1), data);
  EXPECT_EQ(FormatToBytes(data, 1), data);
}

TEST(HexFormat, EncodesUpperAndLowerCase) {
  EXPECT_EQ(BytesToFormat("\x1F\xA0\x00", 3, 16), "1FA000");
  EXPECT_EQ(BytesToFormat("\x1F\xA0\x00", 3, 1016), "1fa000");
}

TEST(HexFormat, PrefixesAndCaseDecodeAlike) {
  for (int32_t id : {16, 1016}) {
    for (const char* text : {"0x1F", "$1f", "1F", "1f", "X1F", "0X1f", "1Fh", " 1 F "}) {
      EXPECT_EQ(FormatToBytes(text, id), "\x1F") << id << " " << text;
    }
  }
  // Only the first marker restarts the value; an unpaired last digit is dropped.
  EXPECT_EQ(FormatToBytes("12x34", 16), "\x34");
  EXPECT_EQ(FormatToBytes("0x12x34", 16), "\x12\x34");
  EXPECT_EQ(FormatToBytes("123", 16), "\x12");
  EXPECT_EQ(FormatToBytes("{12, 34}", 16), "\x12\x34");
}

TEST(HexFormat, RoundTripsAndRejectsForeignCharacters) {
  const std::string data = AllBytes(300);
  for (int32_t id : {16, 1016}) EXPECT_EQ(FormatToBytes(BytesToFormat(data, id), id), data);
  EXPECT_EQ(FormatToBytes(BytesToFormat(data, 16), 1016), data);
  EXPECT_FALSE(IsValidText("1G", 2, 16));
  EXPECT_TRUE(IsValidText("1G", 2, 16, false));
  EXPECT_EQ(MessageOf([] { FormatToBytes("12g4", 16); }),
            "Input is not an valid Hexadecimal Format.");
  EXPECT_EQ(MessageOf([] { FormatToBytes("12\x81", 1016); }),
            "Input is not an valid Hexadecimal lowercase Format.");
}

TEST(Mime64Format, PublishedVectors) {
  const std::pair<const char*, const char*> rows[] = {
      {"f", "Zg=="},        {"fo", "Zm8="},        {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};
  for (const auto& [plain, coded] : rows) {
    EXPECT_EQ(BytesToFormat(plain, 4196), coded);
    EXPECT_EQ(FormatToBytes(coded, 4196), plain);
    EXPECT_EQ(FormatToBytes(coded, -1), plain);
  }
  EXPECT_EQ(BytesToFormat("foo", -1), "Zm9v");
}

TEST(Mime64Format, MissingPadAndSeparatorsAreTolerated) {
  EXPECT_EQ(FormatToBytes("Zg", 4196), "f");
  EXPECT_EQ(FormatToBytes("Zg=", 4196), "f");
  EXPECT_EQ(FormatToBytes("Zm8", 4196), "fo");
  EXPECT_EQ(FormatToBytes("Zm9vYmE", 4196), "fooba");
  EXPECT_EQ(FormatToBytes("Zm9v\r\nYmFy", 4196), "foobar");
  EXPECT_EQ(FormatToBytes("Zm9v Ym", 4196), "foob");
  const std::string data = AllBytes(1000);
  EXPECT_EQ(FormatToBytes(BytesToFormat(data, 4196), 4196), data);
}

TEST(Mime64Format, ForeignCharactersAreRejected) {
  EXPECT_EQ(MessageOf([] { FormatToBytes("Zm9v!", 4196); }),
            "Input is not an valid MIME Base 64 Format.");
  EXPECT_EQ(MessageOf([] { FormatToBytes("Zm9v\0Zg", 7, 4196); }),
            "Input is not an valid MIME Base 64 Format.");
}

TEST(UUFormat, KnownLinesInBothAlphabets) {
  EXPECT_EQ(BytesToFormat("Cat", 21845), "#0V%T");
  EXPECT_EQ(FormatToBytes("#0V%T", 21845), "Cat");
  EXPECT_EQ(BytesToFormat("Cat", 22616), "1Eq3o");
  EXPECT_EQ(FormatToBytes("1Eq3o", 22616), "Cat");
  // One byte: two coding characters and two filler characters of index 0.
  EXPECT_EQ(BytesToFormat("\xFF", 1, 21845), "!_P``");
  EXPECT_TRUE(IsValidText("!_P``", 5, 21845));
  EXPECT_TRUE(IsValidText("!_P", 3, 21845));
  EXPECT_EQ(FormatToBytes("!_P", 21845), "\xFF");
}

TEST(UUFormat, RoundTripsAcrossLineBoundaries) {
  for (size_t n : {1u, 2u, 3u, 44u, 45u, 46u, 89u, 90u, 91u, 500u}) {
    const std::string data = AllBytes(n);
    for (int32_t id : {21845, 22616}) {
      const AnsiString text = BytesToFormat(data, id);
      EXPECT_EQ(text.size(), (n + 44) / 45 + (n / 45) * 60 + ((n % 45) + 2) / 3 * 4) << n;
      EXPECT_TRUE(IsValidText(text.data(), static_cast<int64_t>(text.size()), id));
      EXPECT_EQ(FormatToBytes(text, id), data) << n << " " << id;
    }
  }
  // Line separators between the lines are skipped.
  const std::string data = AllBytes(100);
  AnsiString text = BytesToFormat(data, 21845);
  text.insert(61, "\r\n");
  text.insert(123, "\r\n");
  EXPECT_EQ(FormatToBytes(text, 21845), data);
}

TEST(UUFormat, BadLengthOrCutLineIsRejected) {
  // "N" has index 46 in the UU alphabet.
  EXPECT_EQ(MessageOf([] { FormatToBytes("N0V%T", 21845); }),
            "Input is not an valid UU Coding Format.");
  EXPECT_EQ(MessageOf([] { FormatToBytes("#0V", 21845); }),
            "Input is not an valid UU Coding Format.");
  EXPECT_EQ(MessageOf([] { FormatToBytes("#0v%T", 21845); }),
            "Input is not an valid UU Coding Format.");
  // "o" has index 52 in the XX alphabet.
  EXPECT_EQ(MessageOf([] { FormatToBytes("oEq3o", 22616); }),
            "Input is not an valid XX Coding Format.");
  // Direct decoding without the check raises as well for a bad length.
  EXPECT_THROW(FindStringFormat(21845)->TextToBytes("N", 1), EStringFormat);
}

TEST(StringFormat, GarbageNeverCrashes) {
  uint32_t seed = 12345;
  for (int round = 0; round < 2000; ++round) {
    std::string text(static_cast<size_t>(round % 97), '\0');
    for (char& c : text) {
      seed = seed * 1103515245u + 12345u;
      const std::string_view pool =
          round % 2 ? std::string_view("`!#0V%T MNZm9v=\r\n") : std::string_view();
      c = pool.empty() ? static_cast<char>(seed >> 24) : pool[(seed >> 16) % pool.size()];
    }
    for (int32_t id : {1, 16, 1016, 4196, 21845, 22616}) {
      try {
        const AnsiString bytes = FormatToBytes(text, id);
        EXPECT_LE(bytes.size(), text.size());
      } catch (const EStringFormat&) {
      }
    }
  }
}

}  // namespace
}  // namespace zk
