// The sfs tool's texts: container paths as users write them, names that
// cannot be stored, time stamps, sizes and compression method names.
#include <gtest/gtest.h>

#include <cstdio>

#include "tools/sfs/CommandLine.h"
#include "tools/sfs/Progress.h"
#include "tools/sfs/ToolText.h"

namespace zk::sfs {
namespace {

TEST(ContainerPath, UserFormsBecomeTheEngineForm) {
  struct TCase {
    const char* Text;
    const char* Engine;
    const char* Display;
    bool Trailing;
  } const cases[] = {
      {"", "\\", "/", false},
      {"/", "\\", "/", true},
      {"a/b", "\\a\\b", "/a/b", false},
      {"\\a\\b\\", "\\a\\b", "/a/b", true},
      {"//a///b", "\\a\\b", "/a/b", false},
      {"./a/./b", "\\a\\b", "/a/b", false},
      {"a/../b", "\\b", "/b", false},
      {"../../a", "\\a", "/a", false},
  };
  for (const TCase& c : cases) {
    const TContainerPath path = ParseContainerPath(c.Text);
    EXPECT_EQ(path.Engine(), c.Engine) << c.Text;
    EXPECT_EQ(path.Display(), c.Display) << c.Text;
    EXPECT_EQ(path.TrailingSeparator, c.Trailing) << c.Text;
  }
}

TEST(ContainerPath, ChineseNamesAreGbkInsideAndUtf8Outside) {
  const TContainerPath path = ParseContainerPath("/资料/文件.txt");
  ASSERT_EQ(path.Names.size(), 2u);
  EXPECT_EQ(path.Names[0], "\xD7\xCA\xC1\xCF");  // 资料 in GBK
  EXPECT_EQ(path.Display(), "/资料/文件.txt");
  // GBK trail bytes may be 0x5C; the display form never mistakes them.
  EXPECT_EQ(DisplayEnginePath("\\\xD5\x5C"), "/" + ToDisplay("\xD5\x5C"));
  EXPECT_EQ(ToDisplay("\xD5\x5C").find('\\'), std::string::npos);
  // A damaged name never breaks a listing line.
  EXPECT_EQ(DisplayEnginePath("\\a\nb"), "/a\\x0Ab");
}

TEST(ContainerPath, NamesThatCannotBeStoredAreRefused) {
  EXPECT_THROW(ParseContainerPath("/a/emoji\xF0\x9F\x98\x80"), ESfsError);  // not in GBK
  EXPECT_THROW(ParseContainerPath(std::string(260, 'n')), ESfsError);
  EXPECT_NO_THROW(ParseContainerPath(std::string(259, 'n')));
  EXPECT_THROW(ParseContainerPath("a\tb"), ESfsError);
  EXPECT_THROW(CheckItemName("", false, ""), ESfsError);
  EXPECT_THROW(CheckItemName("..", false, ""), ESfsError);
  EXPECT_THROW(CheckItemName("a\\b", false, ""), ESfsError);
  EXPECT_THROW(CheckItemName("a*", true, ""), ESfsError);
  EXPECT_NO_THROW(CheckItemName("a*", false, ""));
  EXPECT_NO_THROW(CheckItemName("\xD5\x5C", true, ""));  // a trail byte 0x5C is no separator
}

TEST(ToolText, UnconvertibleBytesAreShownEscaped) {
  EXPECT_EQ(ToDisplay("ok"), "ok");
  EXPECT_EQ(ToDisplay("a\xFF"
                      "b"),
            "a\\xFFb");
}

TEST(ToolText, FileTimesInIso8601) {
  EXPECT_EQ(FileTimeToIso(116444736000000000LL), "1970-01-01T00:00:00Z");
  EXPECT_EQ(FileTimeToIso(0), "1601-01-01T00:00:00Z");
  EXPECT_EQ(FileTimeToIso(UnixToFileTime(951782400)), "2000-02-29T00:00:00Z");
  EXPECT_EQ(FileTimeToIso(UnixToFileTime(1700000000) + 9999999), "2023-11-14T22:13:20Z");
  EXPECT_EQ(FileTimeToIso(2650467743999999999LL), "9999-12-31T23:59:59Z");
  EXPECT_EQ(FileTimeToIso(-1), "-");
  EXPECT_EQ(FileTimeToIso(INT64_MAX), "-");
  EXPECT_EQ(FileTimeToUnix(UnixToFileTime(1234567890)), 1234567890);
  EXPECT_EQ(FileTimeToUnix(UnixToFileTime(-5)), -5);
}

TEST(ToolText, SizesWithSuffixes) {
  EXPECT_EQ(ParseSize("4096", "page-size", 1, 1 << 30), 4096);
  EXPECT_EQ(ParseSize("64K", "part-size", 1, INT64_MAX), 65536);
  EXPECT_EQ(ParseSize("2M", "part-size", 1, INT64_MAX), 2 << 20);
  EXPECT_EQ(ParseSize("1G", "part-size", 1, INT64_MAX), 1 << 30);
  for (const char* bad : {"", "x", "-1", "1.5", "4KB", "0", "99999999999999999999", "8G"})
    EXPECT_THROW(ParseSize(bad, "page-size", 1, 2147483647), EUsageError) << bad;
}

TEST(ToolText, CompressionByCodeOrName) {
  EXPECT_EQ(ParseCompression("0"), 0);
  EXPECT_EQ(ParseCompression("9"), 9);
  EXPECT_EQ(ParseCompression("zlib"), 2);
  EXPECT_EQ(ParseCompression("ppm-fast"), 6);
  EXPECT_EQ(ParseCompression("bzip2-best"), 9);
  EXPECT_EQ(ParseCompression("stored"), 0);
  for (const char* bad : {"10", "", "zip", "-1", "02"})
    EXPECT_THROW(ParseCompression(bad), EUsageError) << bad;
  EXPECT_EQ(CompressionName(2), "2 (zlib, normal)");
  EXPECT_EQ(CompressionName(77), "77 (unknown)");
}

TEST(Progress, LineShape) {
  EXPECT_EQ(RenderProgressLine("put", 0, 10), "put [..........]   0%");
  EXPECT_EQ(RenderProgressLine("put", 45, 10), "put [####......]  45%");
  EXPECT_EQ(RenderProgressLine("put", 250, 10), "put [##########] 100%");
}

TEST(Progress, NothingIsDrawnWhenTheStreamIsNoTerminal) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  {
    TProgressBar bar("put", true, file);
    EXPECT_FALSE(bar.Enabled());
    bar.Update(50.0);
    bar.Update(int64_t{3}, int64_t{4});
  }
  EXPECT_EQ(std::ftell(file), 0);
  std::fclose(file);
}

}  // namespace
}  // namespace zk::sfs
