// The directory: records on their pages, paths, the folder and file
// operations, slot reuse, time stamps, the wildcard search and damaged
// directories.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/os/Service.h"
#include "platform/os/testing/FakeClock.h"
#include "tests/engine/EngineTestSupport.h"

namespace zk {
namespace {

using testing::MessageOf;
using testing::PatchLogical;
using testing::PatchValue;
using testing::TEngine;
using testing::TTempDir;

class Directory : public ::testing::Test {
 protected:
  void SetUp() override {
    Path = Dir / "d.sfs";
    E = TEngine::Create(Path);
  }
  TDIRManager& D() { return *E.Dir; }
  TTempDir Dir;
  std::string Path;
  TEngine E;
};

TEST_F(Directory, FirstFolderMakesTheFirstPage) {
  ASSERT_TRUE(D().CreateDir("\\a"));
  const TSFSFileHeader& h = E.PageFile->Header;
  EXPECT_EQ(+(h.FirstDIRPageNo), 4);
  EXPECT_EQ(+(h.DIRPageCount), 1);
  EXPECT_EQ(+(h.DIRItemCount), 1);
  EXPECT_EQ(D().GetItemPath(0), "\\a");
  EXPECT_EQ(+(testing::HeaderOnDisk(Path).DIRItemCount), 1);
  const TPageHeader ph = testing::PageHeaderOnDisk(Path, 4, 4096);
  EXPECT_EQ(+(ph.PageType), ptDirectory);
  // Only the records are transferred: 7 x 512 bytes, the check over them.
  const auto records = testing::ReadLogical(Path, 4 * 4096 + 32, 7 * 512);
  EXPECT_EQ(+(ph.CheckValue), ComputeCheckValue(records.data(), 7 * 512, 0));
  TDIRItem item;
  std::memcpy(&item, records.data(), sizeof item);
  EXPECT_STREQ(item.FileName, "a");
  EXPECT_EQ(+(item.Attributes), faDirectory);
  EXPECT_EQ(+(item.IsDirectory), 1);
  EXPECT_EQ(+(item.ParentID), -1);
  EXPECT_EQ(+(item.FirstMapPageNo), -1);
}

TEST_F(Directory, PathsResolve) {
  ASSERT_TRUE(D().ForceDirectories("\\a\\b\\c"));
  const int32_t c = D().FindItem("\\a\\b\\c");
  ASSERT_GE(c, 0);
  EXPECT_EQ(D().FindItem("a/b\\c"), c);
  EXPECT_EQ(D().FindItem("/a/b/c/"), c);  // one trailing separator is allowed
  EXPECT_EQ(D().FindItem("\\A\\B\\C"), c);
  EXPECT_EQ(D().FindItem("\\a\\\\b"), -2);  // empty segment
  EXPECT_EQ(D().FindItem("\\a\\b\\c\\\\"), -2);
  EXPECT_EQ(D().FindItem("\\x"), -2);  // named nowhere
  EXPECT_EQ(D().FindItem("\\b"), -3);  // exists, but not in the root
  EXPECT_EQ(D().FindItem("\\"), -1);
  EXPECT_EQ(D().FindItem(""), -2);
  EXPECT_EQ(D().FindItem("\\a\\b\\..\\b\\c"), c);
  EXPECT_EQ(D().FindItem("\\..\\..\\a"), D().FindItem("\\a"));  // the root's parent is the root
  EXPECT_EQ(D().Items().FindPath("a", 99), -2);                 // bad start folder
  EXPECT_EQ(D().Items().GetPath(c), "\\a\\b\\c");
  EXPECT_EQ(D().Items().GetPath(-1), "\\");
  EXPECT_EQ(D().Items().GetPath(1000), "\\");
}

TEST_F(Directory, GbkTrailBytesAreNotSeparators) {
  // 0x95 0x5C is one double-byte character whose trail byte is a backslash.
  const AnsiString name =
      "\x95\x5C"
      "x";
  ASSERT_TRUE(D().CreateDir("\\" + name));
  EXPECT_EQ(D().GetItemPath(0), "\\" + name);
  EXPECT_EQ(D().FindItem("\\" + name), 0);
  EXPECT_TRUE(D().DirectoryExists("\\" + name));
  ASSERT_TRUE(D().ForceDirectories("\\" + name + "\\" + name));
  EXPECT_EQ(D().FindItem("\\" + name + "\\" + name), 1);
}

TEST_F(Directory, LongNamesAreCut) {
  const AnsiString longName(300, 'n');
  ASSERT_TRUE(D().CreateDir(longName));
  TDIRItem item;
  D().ReadItem(0, item);
  EXPECT_EQ(ItemName(item), AnsiString(259, 'n'));
  EXPECT_EQ(D().FindItem(longName), 0);
  EXPECT_EQ(D().FindItem(AnsiString(259, 'n')), 0);
  // A double-byte character is never cut in half.
  AnsiString wide;
  for (int i = 0; i < 200; ++i) wide += "\xD6\xD0";
  ASSERT_TRUE(D().CreateDir(wide));
  D().ReadItem(1, item);
  EXPECT_EQ(ItemName(item).size(), 258u);
  EXPECT_EQ(D().FindItem(wide), 1);
}

TEST_F(Directory, DeletedSlotIsReused) {
  ASSERT_TRUE(D().CreateDir("\\a"));
  ASSERT_GE(D().CreateFileItem("\\f", "", "", ""), 0);
  ASSERT_TRUE(D().CreateDir("\\b"));
  TDIRItem item;
  D().ReadItem(1, item);
  item.Deleted = 1;
  D().WriteItem(1, item);
  EXPECT_EQ(D().FindItem("\\f"), -2);
  EXPECT_EQ(D().CreateFileItem("\\g", "", "", ""), 1);
  EXPECT_EQ(+(E.PageFile->Header.DIRItemCount), 3);
  EXPECT_EQ(D().FindItem("\\g"), 1);
  E.Close();
  E = TEngine::Open(Path);
  EXPECT_EQ(E.Dir->FindItem("\\g"), 1);
  EXPECT_EQ(E.Dir->FindItem("\\b"), 2);
}

TEST_F(Directory, SlotNamedAsAFolderIsNotReused) {
  ASSERT_TRUE(D().ForceDirectories("\\a\\b"));
  TDIRItem item;
  D().ReadItem(0, item);
  item.Deleted = 1;  // "\a" goes, "\a\b" still names it as its folder
  D().WriteItem(0, item);
  ASSERT_TRUE(D().CreateDir("\\c"));
  EXPECT_EQ(D().FindItem("\\c"), 2);
  EXPECT_EQ(+(D().Items().Record(1).ParentID), 0);
}

TEST_F(Directory, EighthRecordStartsTheSecondPage) {
  for (int i = 0; i < 7; ++i) ASSERT_TRUE(D().CreateDir("\\d" + IntToStr(i)));
  EXPECT_EQ(+(E.PageFile->Header.DIRPageCount), 1);
  ASSERT_TRUE(D().CreateDir("\\d7"));
  EXPECT_EQ(+(E.PageFile->Header.DIRPageCount), 2);
  ASSERT_EQ(D().DIRPages().ItemCount(), 2);
  const int32_t second = D().DIRPages()[1];
  EXPECT_EQ(+(testing::PageHeaderOnDisk(Path, 4, 4096).NextPageNo), second);
  EXPECT_EQ(+(testing::PageHeaderOnDisk(Path, second, 4096).NextPageNo), -1);
  E.Close();
  E = TEngine::Open(Path);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(E.Dir->FindItem("\\d" + IntToStr(i)), i);
}

TEST_F(Directory, ForceDirectoriesTopDown) {
  ASSERT_TRUE(D().ForceDirectories("\\x\\y\\z"));
  EXPECT_EQ(D().GetItemPath(0), "\\x");
  EXPECT_EQ(D().GetItemPath(1), "\\x\\y");
  EXPECT_EQ(D().GetItemPath(2), "\\x\\y\\z");
  EXPECT_TRUE(D().ForceDirectories("\\x\\y\\z"));
  EXPECT_EQ(D().Items().ItemCount(), 3);
  ASSERT_TRUE(D().ChangeDir("\\x"));
  EXPECT_TRUE(D().ForceDirectories("p\\q"));
  EXPECT_EQ(D().FindItem("\\x\\p\\q"), 4);
  // A file in the way: the folder above the last cannot be made.
  ASSERT_GE(D().CreateFileItem("\\file", "", "", ""), 0);
  EXPECT_EQ(MessageOf([&] { D().ForceDirectories("\\file\\sub\\leaf"); }),
            "TDIRManager.ForceDirectories - ForceDirectories error!");
  EXPECT_EQ(MessageOf([&] { D().ForceDirectories("\\file\\sub"); }),
            "TDIRManager.ForceDirectories - ForceDirectories error!");
  EXPECT_FALSE(D().ForceDirectories("\\file"));
  EXPECT_FALSE(D().ForceDirectories(""));
}

TEST_F(Directory, ChangeDirAndParent) {
  ASSERT_TRUE(D().ForceDirectories("\\top\\inner"));
  ASSERT_TRUE(D().ChangeDir("\\top\\inner"));
  EXPECT_EQ(D().GetCurrentDir(), "\\top\\inner");
  ASSERT_TRUE(D().ChangeDir(".."));
  EXPECT_EQ(D().GetCurrentDir(), "\\top");
  ASSERT_TRUE(D().ChangeDir(".."));
  EXPECT_EQ(D().GetCurrentDir(), "\\");
  ASSERT_TRUE(D().ChangeDir(".."));  // at the root it stays at the root
  EXPECT_EQ(D().GetCurrentDir(), "\\");
  EXPECT_EQ(D().CurrentDir(), -1);
  EXPECT_FALSE(D().ChangeDir("nowhere"));
  EXPECT_FALSE(D().ChangeDir(""));
  ASSERT_TRUE(D().ChangeDir("top"));
  EXPECT_TRUE(D().CreateDir("rel"));
  EXPECT_EQ(D().GetItemPath(D().FindItem("rel")), "\\top\\rel");
}

TEST_F(Directory, DirectoryExists) {
  ASSERT_TRUE(D().CreateDir("\\Folder"));
  ASSERT_GE(D().CreateFileItem("\\Folder\\file.txt", "", "", ""), 0);
  EXPECT_TRUE(D().DirectoryExists("\\folder"));
  EXPECT_TRUE(D().DirectoryExists("\\FOLDER"));
  EXPECT_FALSE(D().DirectoryExists("\\Folder\\file.txt"));
  EXPECT_FALSE(D().DirectoryExists("Folder\\"));  // the search keeps the separator
  EXPECT_TRUE(D().DirectoryExists("\\Folder\\"));
  EXPECT_TRUE(D().DirectoryExists("\\"));
  EXPECT_TRUE(D().DirectoryExists("/"));
  EXPECT_TRUE(D().DirectoryExists("."));
  EXPECT_FALSE(D().DirectoryExists(""));
  EXPECT_FALSE(D().DirectoryExists("\\nothing\\x"));
}

TEST_F(Directory, TrailingSeparatorOnASingleName) {
  ASSERT_TRUE(D().CreateDir("abc\\"));
  EXPECT_EQ(D().FindItem("abc"), 0);
  EXPECT_STREQ(D().Items().Record(0).FileName, "abc");
  EXPECT_EQ(D().CreateFileItem("f/", "", "", ""), 1);
  EXPECT_STREQ(D().Items().Record(1).FileName, "f");
  EXPECT_TRUE(D().ForceDirectories("g\\"));
  EXPECT_EQ(D().FindItem("g"), 2);
  EXPECT_FALSE(D().CreateDir("abc\\"));
  EXPECT_FALSE(D().CreateDir("\\\\"));
}

TEST_F(Directory, NoPathNamesTwoItems) {
  ASSERT_GE(D().CreateFileItem("\\same", "", "", ""), 0);
  EXPECT_FALSE(D().CreateDir("\\same"));
  EXPECT_FALSE(D().CreateDir("\\SAME"));
  EXPECT_EQ(D().CreateFileItem("\\same", "", "", ""), -1);
  // A file is no folder: nothing goes inside it.
  EXPECT_FALSE(D().CreateDir("\\same\\sub"));
  EXPECT_EQ(D().CreateFileItem("\\same\\sub", "", "", ""), -1);
  // Names that paths cannot reach are refused.
  EXPECT_FALSE(D().CreateDir(".."));
  EXPECT_EQ(D().CreateFileItem("\\..", "", "", ""), -1);
  EXPECT_EQ(D().CreateFileItem("\\", "", "", ""), -1);
  EXPECT_EQ(D().CreateFileItem("", "", "", ""), -1);
  EXPECT_FALSE(D().CreateDir("\\missing\\sub"));
  EXPECT_EQ(D().Items().ItemCount(), 1);
  EXPECT_EQ(D().LastError, 0);
}

TEST_F(Directory, WildcardFoldIsAsciiLettersOnly) {
  ASSERT_TRUE(D().CreateDir("\\Data{1}"));
  EXPECT_FALSE(D().DirectoryExists("\\Data[1]"));
  ASSERT_TRUE(D().ForceDirectories("\\Data[1]"));
  EXPECT_EQ(D().FindItem("\\Data[1]"), 1);
  EXPECT_EQ(D().FindItem("\\Data{1}"), 0);
  EXPECT_TRUE(D().DirectoryExists("\\data[1]"));
}

TEST(DirectoryMask, Matches) {
  struct TCase {
    const char* Name;
    const char* Mask;
    bool Match;
  };
  const TCase cases[] = {
      {"abc", "*.*", true},
      {"abc", "*", true},
      {"abc", "a*", true},
      {"abc", "*c", true},
      {"abc", "*b*", true},
      {"abc", "a?c", true},
      {"abc", "ABC", true},
      {"abc", "ab", false},
      {"ab", "abc", false},
      {"abc", "a*d", false},
      {"a", "a*", true},
      {"a", "a**", false},
      {"a", "a*?", false},
      {"[x]", "{x}", false},
      {"@", "`", false},
      {"x.txt", "*.txt", true},
      {"x.txt", "*.TXT", true},
      {"\xD6\xD0", "?", true},
      {"\xD6\xD0", "??", false},
      {"\xC1\x61", "\xC1\x41", false},
      {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", "*a*a*a*a*a*a*a*a*a*a*a*b", false},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(MatchesMask(c.Name, c.Mask, true), c.Match) << c.Name << " ~ " << c.Mask;
  EXPECT_FALSE(MatchesMask("abc", "ABC", false));
}

TEST(DirectoryMask, SplitPath) {
  struct TCase {
    const char* Path;
    bool Splits;
    const char* Folder;
    const char* Name;
  };
  const TCase cases[] = {
      {"a\\b\\c", true, "a\\b", "c"}, {"\\c", true, "\\", "c"}, {"a\\b\\", true, "a", "b"},
      {"c", false, "", ""},           {"c\\", false, "", ""},   {"a/b", true, "a", "b"},
  };
  for (const TCase& c : cases) {
    AnsiString folder, name;
    ASSERT_EQ(SplitPath(c.Path, folder, name), c.Splits) << c.Path;
    if (!c.Splits) continue;
    EXPECT_EQ(folder, c.Folder) << c.Path;
    EXPECT_EQ(name, c.Name) << c.Path;
  }
}

TEST_F(Directory, FilesOpenCloseAndPasswords) {
  const int32_t plain = D().CreateFileItem("\\plain", "", "", "");
  const int32_t secret = D().CreateFileItem("\\secret", "pw", "q", "a");
  ASSERT_GE(plain, 0);
  ASSERT_GE(secret, 0);
  EXPECT_EQ(+(D().Items().Record(secret).EncryptionType), 1);
  AnsiString key = "old";
  EXPECT_EQ(D().OpenFileItem("\\plain", "", key), plain);
  EXPECT_TRUE(key.empty());
  EXPECT_EQ(D().OpenCount(plain), 1);
  EXPECT_EQ(D().OpenFileItem("\\plain", "", key), plain);
  EXPECT_EQ(D().OpenCount(plain), 2);
  D().CloseFileItem(plain);
  D().CloseFileItem(plain);
  D().CloseFileItem(plain);
  EXPECT_EQ(D().OpenCount(plain), 0);
  EXPECT_EQ(D().OpenCount(99), -1);
  EXPECT_TRUE(D().CheckFilePassword("\\plain", "anything"));
  EXPECT_TRUE(D().CheckFilePassword("\\secret", "pw"));
  EXPECT_FALSE(D().CheckFilePassword("\\secret", "wrong"));
  EXPECT_FALSE(D().CheckFilePassword("\\none", "pw"));
  EXPECT_EQ(D().OpenFileItem("\\secret", "pw", key), secret);
  EXPECT_EQ(key.size(), 33u);
  ASSERT_TRUE(D().CreateDir("\\folder"));
  EXPECT_EQ(D().OpenFileItem("\\folder", "", key), -1);
  EXPECT_EQ(D().OpenFileItem("\\none", "", key), -1);
}

TEST(DirectoryTime, StampsAreLocalTwoSecondsInUtc) {
  os::testing::TFakeClock clock;
  // 12:00:03.5 UTC; local time is 8 hours ahead: 20:00:03.5 becomes
  // 20:00:02, which is 12:00:02 UTC.
  clock.Now = os::SystemTimeToFileTime(os::TSystemTime{2026, 12, 5, 11, 12, 0, 3, 500});
  os::TScopedService<os::IClock> scoped(clock);
  const int64_t expected = os::SystemTimeToFileTime(os::TSystemTime{2026, 12, 5, 11, 12, 0, 2, 0});
  EXPECT_EQ(DIRNow(), expected);
  TTempDir dir;
  auto e = TEngine::Create(dir / "t.sfs");
  ASSERT_TRUE(e.Dir->CreateDir("\\a"));
  const TDIRItem& r = e.Dir->Items().Record(0);
  EXPECT_EQ(+(r.CreationTime), expected);
  EXPECT_EQ(+(r.LastWriteTime), expected);
  EXPECT_EQ(+(r.LastAccessTime), expected);
  TSFSSearchRec search;
  ASSERT_EQ(e.Dir->Items().FindFirst("\\a", faDirectory, -1, search), 0);
  // 2026-12-11 20:00:02 local as a DOS date and time.
  EXPECT_EQ(static_cast<uint32_t>(search.Time),
            ((46u << 9 | 12u << 5 | 11u) << 16) | (20u << 11 | 0u << 5 | 1u));
  EXPECT_EQ(search.Name, "a");
  e.Dir->Items().FindClose(search);
}

TEST(DirectoryEncrypted, RecordsStayPlainInMemoryAndOnReopen) {
  TTempDir dir;
  const std::string path = dir / "e.sfs";
  {
    auto e = TEngine::Create(path, "pw");
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(e.Dir->CreateDir("\\dir" + IntToStr(i)));
    // Every write of page 4 enciphered a copy; the records are still plain.
    for (int i = 0; i < 10; ++i) EXPECT_EQ(e.Dir->GetItemPath(i), "\\dir" + IntToStr(i));
    EXPECT_EQ(+(testing::PageHeaderOnDisk(path, 4, 4096).EncryptionType), 1);
    EXPECT_EQ(+(testing::PageHeaderOnDisk(path, e.Dir->DIRPages()[1], 4096).EncryptionType), 1);
    // On disk the names are enciphered.
    const auto raw = testing::ReadLogical(path, 4 * 4096 + 32 + 224, 4);
    EXPECT_NE(std::memcmp(raw.data(), "dir0", 4), 0);
  }
  auto e = TEngine::Open(path, "pw");
  for (int i = 0; i < 10; ++i) EXPECT_EQ(e.Dir->FindItem("\\dir" + IntToStr(i)), i);
}

// Damaged directories made from a sound one.
class DamagedDirectory : public ::testing::Test {
 protected:
  void SetUp() override {
    Path = Dir / "dd.sfs";
    auto e = TEngine::Create(Path);
    ASSERT_TRUE(e.Dir->ForceDirectories("\\a\\b"));
    for (int i = 0; i < 7; ++i) ASSERT_TRUE(e.Dir->CreateDir("\\n" + IntToStr(i)));
    ASSERT_EQ(e.Dir->DIRPages().ItemCount(), 2);
    Second = e.Dir->DIRPages()[1];
  }
  int64_t RecordOffset(int32_t item) const {
    const int32_t page = item < 7 ? 4 : Second;
    return int64_t{page} * 4096 + 32 + (item % 7) * 512;
  }
  TTempDir Dir;
  std::string Path;
  int32_t Second = 0;
};

TEST_F(DamagedDirectory, ChainThatLeadsAstray) {
  for (int32_t next : {1, 2, 3, 4, 0, -1, 100000, INT32_MAX}) {
    PatchValue<int32_t>(Path, 4 * 4096, next);
    EXPECT_EQ(MessageOf([&] { TEngine::Open(Path); }),
              "TDIRManager.Load - can not load page, pageNo = " + IntToStr(next))
        << next;
  }
  PatchValue<int32_t>(Path, 4 * 4096, Second);
  EXPECT_NO_THROW(TEngine::Open(Path));
}

TEST_F(DamagedDirectory, UnreadablePage) {
  PatchValue<uint8_t>(Path, int64_t{Second} * 4096 + 9, 9);
  EXPECT_EQ(MessageOf([&] { TEngine::Open(Path); }),
            "TDIRManager.Load - can not load page, pageNo = " + IntToStr(Second));
}

TEST_F(DamagedDirectory, NameWithoutTerminator) {
  const AnsiString full(260, 'z');
  PatchLogical(Path, RecordOffset(2) + 224, full.data(), full.size());
  auto e = TEngine::Open(Path);
  EXPECT_EQ(ItemName(e.Dir->Items().Record(2)), AnsiString(259, 'z'));
  EXPECT_EQ(e.Dir->FindItem("\\" + AnsiString(259, 'z')), 2);
}

TEST_F(DamagedDirectory, ParentLinksInACircle) {
  // \a (0) and \a\b (1) name each other as their folders.
  PatchValue<int32_t>(Path, RecordOffset(0) + 40, 1);
  auto e = TEngine::Open(Path);
  const AnsiString p = e.Dir->GetItemPath(1);
  EXPECT_LE(p.size(), 2u * (e.Dir->Items().ItemCount() + 1));
  EXPECT_EQ(e.Dir->FindItem("\\a"), -3);
  EXPECT_TRUE(e.Dir->ChangeDir("\\n0"));
  EXPECT_TRUE(e.Dir->CreateDir("\\fresh"));
}

TEST_F(DamagedDirectory, ParentOutsideTheRecords) {
  PatchValue<int32_t>(Path, RecordOffset(1) + 40, 5000);
  auto e = TEngine::Open(Path);
  EXPECT_EQ(e.Dir->GetItemPath(1), "\\b");
  EXPECT_EQ(e.Dir->Items().FindPath("..", 1), -3);
}

}  // namespace
}  // namespace zk
