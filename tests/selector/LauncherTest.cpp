#include "selector/Launcher.h"

#include <gtest/gtest.h>

#include "platform/os/AnsiCodePage.h"
#include "platform/os/testing/FakeShell.h"

namespace zk {
namespace {

using os::Utf8ToAnsi;

TEST(ExtractDocumentPath, TakesTheWholeRestOfTheLine) {
  struct Case {
    const char* line;
    const char* path;
  } cases[] = {
      {"ZKselector C:\\My Docs\\a b.doc", "C:\\My Docs\\a b.doc"},
      {"\"C:\\Program Files\\ZKselector.exe\" \"C:\\d\\a.zbj\"   ", "C:\\d\\a.zbj"},
      {"ZKselector", ""},
      {"ZKselector   ", ""},
      {"  \"\"  \"\" ZKselector x", "x"},
      {"\"C:\\a b\\sel.exe\"x y", "y"},
      {"ZKselector \"", ""},
      {"ZKselector \"a\"b\"", "a\"b"},
      {"\"unterminated program path", ""},
      {"ZKselector\t \x95\x5C\x95\x22 ", "\x95\x5C\x95\x22"},  // trail bytes 5C and 22 stay
      {"\x95\x22sel x", "x"},  // a trail byte 0x22 opens no quoted run
  };
  for (const Case& c : cases) EXPECT_EQ(ExtractDocumentPath(c.line), c.path) << c.line;
}

TEST(IsSafeProductName, RefusesNamesThatLeaveTheFolder) {
  EXPECT_TRUE(IsSafeProductName(""));
  EXPECT_TRUE(IsSafeProductName(Utf8ToAnsi("计价软件2016")));
  EXPECT_TRUE(IsSafeProductName("\x95\x5C"));  // a double-byte character with trail 0x5C
  for (const char* bad : {"..", "a\\b", "..\\x", "a/b", "C:x", "a\x01", "a\tb"})
    EXPECT_FALSE(IsSafeProductName(bad)) << bad;
}

class LauncherTest : public ::testing::Test {
 protected:
  os::testing::TFakeProcess process;
  os::testing::TFakeMessageBox box;
  os::testing::TFakeFileQuery files;
  os::testing::TFakeRegistry registry;
  os::TScopedService<os::IProcess> p{process};
  os::TScopedService<os::IMessageBox> b{box};
  os::TScopedService<os::IFileQuery> f{files};
  os::TScopedService<os::IRegistry> r{registry};
  AnsiString product = "ZK";

  int Run(const AnsiString& line) {
    process.Line = line;
    return RunLauncher([this](const AnsiString&) { return product; });
  }
  void AddRegistry(const std::string& utf8Text) {
    registry.AddFile(os::ParseRegistryFile("Windows Registry Editor Version 5.00\n" + utf8Text));
  }
  AnsiString DefaultPath(const AnsiString& name) {
    return process.Folder + name + "\\" + Utf8ToAnsi("计价程序") + "\\zk2016.exe";
  }
};

TEST_F(LauncherTest, StartsTheRegisteredProgramWithTheQuotedDocument) {
  files.Files = {"D:\\docs\\a b.zbj", "C:\\Program Files\\ZK\\zk.exe"};
  AddRegistry(
      "[HKEY_CLASSES_ROOT\\selector_ZK.Document\\ZK]\n@=\"C:\\\\Program Files\\\\ZK\\\\zk.exe\"\n");
  EXPECT_EQ(Run("ZKselector D:\\docs\\a b.zbj"), 0);
  ASSERT_EQ(process.Starts.size(), 1u);
  EXPECT_EQ(process.Starts[0].ProgramPath, "C:\\Program Files\\ZK\\zk.exe");
  EXPECT_EQ(process.Starts[0].CommandLine, "C:\\Program Files\\ZK\\zk.exe \"D:\\docs\\a b.zbj\"");
  EXPECT_EQ(process.Starts[0].ShowCommand, 5);
  EXPECT_TRUE(box.Boxes.empty());
}

TEST_F(LauncherTest, FallsBackToTheDefaultPathWhenTheRegistryNamesAMissingFile) {
  product = Utf8ToAnsi("计价");
  files.Files = {"doc", DefaultPath(product)};
  AddRegistry("[HKEY_CLASSES_ROOT\\selector_ZK.Document\\计价]\n@=\"C:\\\\gone.exe\"\n");
  EXPECT_EQ(Run("ZKselector doc"), 0);
  ASSERT_EQ(process.Starts.size(), 1u);
  EXPECT_EQ(process.Starts[0].ProgramPath, DefaultPath(product));
}

TEST_F(LauncherTest, ReportsAMissingProgram) {
  files.Files = {"doc"};
  EXPECT_EQ(Run("ZKselector doc"), 1);
  ASSERT_EQ(box.Boxes.size(), 1u);
  EXPECT_EQ(box.Boxes[0].Text, Utf8ToAnsi("未找到安装的软件 - ZK, 无法打开该文件."));
  EXPECT_EQ(box.Boxes[0].Caption, Utf8ToAnsi("提示"));
  EXPECT_EQ(box.Boxes[0].Flags, 16u);
  EXPECT_TRUE(process.Starts.empty());
}

TEST_F(LauncherTest, AnUnsafeProductNameIsLookedUpNowhere) {
  product = "..\\..\\evil";
  files.Files = {"doc", DefaultPath(product)};
  AddRegistry("[HKEY_CLASSES_ROOT\\selector_ZK.Document\\..\\..\\evil]\n@=\"doc\"\n");
  EXPECT_EQ(Run("ZKselector doc"), 1);
  EXPECT_TRUE(process.Starts.empty());
  ASSERT_EQ(box.Boxes.size(), 1u);
  EXPECT_EQ(box.Boxes[0].Text, Utf8ToAnsi("未找到安装的软件 - ..\\..\\evil, 无法打开该文件."));
}

TEST_F(LauncherTest, NonTextRegistryValueRaises) {
  files.Files = {"doc"};
  AddRegistry("[HKEY_CLASSES_ROOT\\selector_ZK.Document\\ZK]\n@=dword:00000001\n");
  EXPECT_THROW(Run("ZKselector doc"), os::ERegistryException);
}

TEST_F(LauncherTest, PathLengthAndExistenceMessages) {
  const AnsiString ok255(255, 'a'), long256(256, 'b');
  files.Files = {ok255, DefaultPath("ZK")};
  EXPECT_EQ(Run("ZKselector " + ok255), 0);

  EXPECT_EQ(Run("ZKselector " + long256), 1);
  ASSERT_EQ(box.Boxes.size(), 1u);
  EXPECT_EQ(box.Boxes[0].Text, Utf8ToAnsi("文件名为:") + long256 + "\r\n" + Utf8ToAnsi("长度为") +
                                   "256\r\n" + Utf8ToAnsi("文件或文件夹名称过长！") + "\r\n" +
                                   long256 + "\r\n" + Utf8ToAnsi("无法找到该文件！") + "\r\n" +
                                   Utf8ToAnsi("请检查修改后重试。"));

  EXPECT_EQ(Run("ZKselector"), 1);
  ASSERT_EQ(box.Boxes.size(), 2u);
  EXPECT_EQ(box.Boxes[1].Text, "\r\n\r\n" + Utf8ToAnsi("无法找到该文件！") + "\r\n" +
                                   Utf8ToAnsi("请检查修改后重试。"));
  EXPECT_EQ(process.Starts.size(), 1u);
}

TEST_F(LauncherTest, TheWideRouteFindsFilesTheOrdinaryTestMisses) {
  files.WideOnly = {"w.zbj"};
  files.Folders = {"folder"};
  EXPECT_TRUE(IsExistingFile("w.zbj"));
  EXPECT_FALSE(IsExistingFile("folder"));
  // A path longer than 259 wide characters converts to empty.
  files.WideOnly.insert(AnsiString(260, 'x'));
  EXPECT_FALSE(IsExistingFile(AnsiString(260, 'x')));
  EXPECT_EQ(files.WideQueries.back(), u"");
}

}  // namespace
}  // namespace zk
