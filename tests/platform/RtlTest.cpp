#include <gtest/gtest.h>

#include <cstring>

#include "platform/os/AnsiCodePage.h"
#include "platform/os/Clock.h"
#include "platform/rtl/AnsiString.h"
#include "platform/rtl/Stream.h"

namespace zk {
namespace {

TEST(AnsiString, FormatsAndQuotes) {
  EXPECT_EQ(IntToStr(-42), "-42");
  EXPECT_EQ(QuoteText("a\"b"), "\"a\"\"b\"");
  EXPECT_EQ(QuoteText(""), "\"\"");
}

TEST(AnsiString, StepsAndFoldsByGbkCharacter) {
  // 0x95 0x5C is one double-byte character whose trail byte is a backslash.
  const std::string text =
      "a\x95\x5C"
      "b";
  EXPECT_EQ(CharNext(text, 0), 1u);
  EXPECT_EQ(CharNext(text, 1), 3u);
  EXPECT_EQ(CharNext(text, 3), 4u);
  EXPECT_EQ(CharNext("\x81", 0), 1u);  // a lead byte at the end
  // Trail bytes that look like letters are not folded.
  EXPECT_EQ(AnsiUpperCase("ab\x81"
                          "a"),
            "AB\x81"
            "a");
  EXPECT_EQ(AnsiCompareText("Abc", "aBC"), 0);
  EXPECT_NE(AnsiCompareText("\x81"
                            "a",
                            "\x81"
                            "A"),
            0);
  EXPECT_LT(AnsiCompareText("abc", "abd"), 0);
  EXPECT_GT(AnsiCompareText("abcd", "abc"), 0);
}

TEST(AnsiCodePage, ConvertsBothWaysAndRefusesTheUnrepresentable) {
  const std::string utf8 = "\xE8\xAE\xA1\xE4\xBB\xB7";  // 计价
  const AnsiString gbk = os::Utf8ToAnsi(utf8);
  EXPECT_EQ(gbk, "\xBC\xC6\xBC\xDB");
  EXPECT_EQ(os::AnsiToUtf8(gbk), utf8);
  EXPECT_THROW(os::Utf8ToAnsi("\xF0\x9F\x98\x80"), Exception);  // an emoji has no GBK form
  EXPECT_THROW(os::AnsiToUtf8("\x81"), Exception);              // a lead byte cut short
  EXPECT_EQ(os::AnsiToUtf16("A\xBC\xC6"), u"A\u8BA1");
}

TEST(Clock, FileTimesConvertExactly) {
  os::TSystemTime t{2000, 2, 0, 29, 23, 59, 58, 123};
  int64_t ft = os::SystemTimeToFileTime(t);
  os::TSystemTime back = os::FileTimeToSystemTime(ft);
  EXPECT_EQ(back.Year, 2000);
  EXPECT_EQ(back.Month, 2);
  EXPECT_EQ(back.Day, 29);
  EXPECT_EQ(back.DayOfWeek, 2);  // a Tuesday
  EXPECT_EQ(back.Second, 58);
  EXPECT_EQ(back.Milliseconds, 123);
  EXPECT_EQ(os::SystemTimeToFileTime(os::TSystemTime{1970, 1, 0, 1, 0, 0, 0, 0}),
            os::UnixEpochFileTime);
  EXPECT_GT(os::Clock().UtcNowFileTime(), os::UnixEpochFileTime);
}

TEST(MemoryStream, ReadWriteSeekAndBufferErrors) {
  TMemoryStream m;
  m.WriteBuffer("hello", 5);
  EXPECT_EQ(m.GetSize(), 5);
  EXPECT_EQ(m.Seek(-2, soEnd), 3);
  char buf[8] = {};
  EXPECT_EQ(m.Read(buf, 8), 2);
  EXPECT_EQ(std::memcmp(buf, "lo", 2), 0);
  EXPECT_THROW(m.ReadBuffer(buf, 1), EReadError);
  m.Seek(10, soBeginning);
  m.WriteBuffer("x", 1);
  EXPECT_EQ(m.GetSize(), 11);
  EXPECT_EQ(m.Memory()[7], 0);  // the gap reads as zero
  EXPECT_EQ(m.Seek32(0, soCurrent), 11);

  TMemoryStream copy;
  EXPECT_EQ(copy.CopyFrom(m, 0), 11);
  EXPECT_EQ(std::memcmp(copy.Memory(), m.Memory(), 11), 0);
  m.SetSize(2);
  EXPECT_EQ(m.GetPosition(), 2);
}

}  // namespace
}  // namespace zk

namespace zk {
namespace {

// A stream that claims a huge size but holds only a few bytes.
class TLyingStream : public TMemoryStream {
 public:
  int64_t GetSize() override { return int64_t(1) << 40; }
};

TEST(MemoryStream, LoadFromStreamNeverTrustsTheStatedSize) {
  TLyingStream source;
  source.WriteBuffer("abc", 3);
  TMemoryStream target;
  EXPECT_THROW(target.LoadFromStream(source), EReadError);
  TMemoryStream honest;
  honest.WriteBuffer("xyz", 3);
  target.LoadFromStream(honest);
  EXPECT_EQ(target.GetSize(), 3);
  EXPECT_EQ(target.GetPosition(), 0);
}

}  // namespace
}  // namespace zk

namespace zk {
namespace {

TEST(Clock, ExtremeFileTimesConvertWithoutOverflow) {
  for (int64_t t : {INT64_MAX, INT64_MIN, int64_t(0), int64_t(-1)}) {
    int64_t local = os::Clock().UtcToLocalFileTime(t);
    int64_t back = os::Clock().LocalToUtcFileTime(local);
    (void)back;  // reaching here without a sanitizer report is the point
    os::FileTimeToSystemTime(local);
  }
}

}  // namespace
}  // namespace zk

namespace zk {
namespace {

TEST(MemoryStream, HostileSizesAndPositionsNeverOverflow) {
  TMemoryStream m;
  EXPECT_EQ(m.Seek(INT64_MAX - 10, soBeginning), INT64_MAX - 10);
  EXPECT_EQ(m.Write("abc", 3), 0);  // a short write, not an overflow
  EXPECT_EQ(m.Seek(100, soCurrent), INT64_MAX);
  EXPECT_EQ(m.Seek(INT64_MAX, soEnd), INT64_MAX);
  EXPECT_THROW(m.SetSize(INT64_MAX / 2), EStreamError);
  EXPECT_EQ(m.GetSize(), 0);
}

}  // namespace
}  // namespace zk
