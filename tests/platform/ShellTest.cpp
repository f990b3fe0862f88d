#include <gtest/gtest.h>

#include "platform/os/AnsiCodePage.h"
#include "platform/os/Process.h"
#include "platform/os/Registry.h"

namespace zk::os {
namespace {

TEST(SplitArguments, FollowsTheWindowsRules) {
  struct Case {
    const char* line;
    std::vector<AnsiString> args;
  } cases[] = {
      {"", {}},
      {"  a  b ", {"a", "b"}},
      {"\"C:\\My Docs\\a b.doc\"", {"C:\\My Docs\\a b.doc"}},
      {"a\\\\\"b c\"", {"a\\b c"}},  // 2n backslashes + quote
      {"a\\\"b", {"a\"b"}},          // 2n+1 backslashes + quote
      {"a\\b\\\\c", {"a\\b\\\\c"}},  // backslashes without a quote stay
      {"\"a\"\"b\"", {"a\"b"}},      // "" inside quotes
      {"\"unterminated x", {"unterminated x"}},
      {"\x95\x5C\"x y\"", {"\x95\x5Cx y"}},  // a trail byte 0x5C is no backslash
  };
  for (const Case& c : cases) EXPECT_EQ(SplitArguments(c.line), c.args) << c.line;
}

TEST(Registry, ParsesRegeditExportsWithLayering) {
  const std::string system =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\selector_ZK.Document\\A]\r\n"
      "@=\"C:\\\\Program Files\\\\A\\\\a.exe\"\r\n"
      "\"Other\"=\"x\\\"y\"\r\n"
      "[HKEY_CLASSES_ROOT\\selector_ZK.Document\\B]\r\n"
      "@=\"system-b\"\r\n"
      "[HKEY_CLASSES_ROOT\\selector_ZK.Document\\D]\r\n"
      "@=dword:00000001\r\n"
      "[HKEY_CLASSES_ROOT\\selector_ZK.Document\\E]\r\n"
      "@=hex(2):43,00,3a,00,\\\r\n  5c,00,65,00,00,00\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\X]\r\n@=\"ignored\"\r\n";
  const std::string user =
      "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n"
      "[hkey_classes_root\\SELECTOR_ZK.DOCUMENT\\b]\n"
      "@=\"user-b\"\n"
      "[HKEY_CLASSES_ROOT\\selector_ZK.Document\\\xE8\xAE\xA1\xE4\xBB\xB7]\n"  // 计价
      "@=\"/opt/\xE8\xAE\xA1/zk.exe\"\n";
  TLayeredRegistry reg;
  reg.AddFile(ParseRegistryFile(system));
  reg.AddFile(ParseRegistryFile(user));

  auto a = reg.OpenClassesRootKey("selector_ZK.Document\\a");
  ASSERT_TRUE(a);
  EXPECT_EQ(ReadRegistryString(*a, ""), "C:\\Program Files\\A\\a.exe");
  EXPECT_EQ(ReadRegistryString(*a, "Other"), "x\"y");
  EXPECT_EQ(ReadRegistryString(*a, "missing"), "");
  EXPECT_EQ(ReadRegistryString(*reg.OpenClassesRootKey("selector_ZK.Document\\B"), ""), "user-b");
  EXPECT_THROW(ReadRegistryString(*reg.OpenClassesRootKey("selector_ZK.Document\\D"), ""),
               ERegistryException);
  EXPECT_EQ(ReadRegistryString(*reg.OpenClassesRootKey("selector_ZK.Document\\E"), ""), "C:\\e");
  auto chinese = reg.OpenClassesRootKey("selector_ZK.Document\\" + Utf8ToAnsi("计价"));
  ASSERT_TRUE(chinese);
  EXPECT_EQ(ReadRegistryString(*chinese, ""), Utf8ToAnsi("/opt/计/zk.exe"));
  EXPECT_FALSE(reg.OpenClassesRootKey("selector_ZK.Document\\C"));
  EXPECT_FALSE(reg.OpenClassesRootKey("Software\\X"));
}

TEST(Registry, AcceptsUtf16AndRefusesFilesWithoutHeader) {
  std::string utf8 =
      "Windows Registry Editor Version 5.00\r\n[HKEY_CLASSES_ROOT\\K]\r\n@=\"v\"\r\n";
  std::string utf16 = "\xFF\xFE";
  for (char c : utf8) {
    utf16.push_back(c);
    utf16.push_back('\0');
  }
  TLayeredRegistry reg;
  reg.AddFile(ParseRegistryFile(utf16));
  ASSERT_TRUE(reg.OpenClassesRootKey("k"));
  EXPECT_TRUE(ParseRegistryFile("[HKEY_CLASSES_ROOT\\K]\n@=\"v\"\n").Keys.empty());
  TRegistryFile deleting =
      ParseRegistryFile("Windows Registry Editor Version 5.00\n[-HKEY_CLASSES_ROOT\\K]\n");
  reg.AddFile(deleting);
  EXPECT_FALSE(reg.OpenClassesRootKey("K"));
}

}  // namespace
}  // namespace zk::os
