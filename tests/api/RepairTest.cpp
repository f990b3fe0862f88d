// RepairFile and the password change built on it: compaction, re-keying,
// repair mode, cancel, the switch of the files and its failures.
#include <gtest/gtest.h>

#include <cstring>

#include "container/api/SingleFileSystem.h"
#include "container/crypto/PasswordBlock.h"
#include "container/engine/DIRManager.h"
#include "container/engine/PageFileManager.h"
#include "container/engine/UserFilePageMapManager.h"
#include "platform/os/testing/FakeFileSystem.h"
#include "platform/rtl/Exception.h"
#include "tests/api/ContainerTestSupport.h"

namespace zk {
namespace {

using os::testing::TFakeFileSystem;
using testing::Exists;
using testing::FileBytes;
using testing::GetFile;
using testing::kDataSize;
using testing::Pattern;
using testing::PutFile;
using testing::TContainerDir;
using testing::WriteFileBytes;

class RepairTest : public ::testing::Test {
 protected:
  TContainerDir Dir;
  std::string Name = Dir / "doc.sfs";

  std::unique_ptr<TSingleFileSystem> New(const AnsiString& password = {}) {
    return TSingleFileSystem::Create(Name, ModeCreate, password);
  }
  std::unique_ptr<TSingleFileSystem> Open(const AnsiString& password = {},
                                          uint16_t mode = ModeReadWrite) {
    return TSingleFileSystem::Create(Name, mode, password);
  }
  // A container with folders, files in them and one file with a password of
  // its own.
  void Populate(TSingleFileSystem& fs) {
    ASSERT_TRUE(fs.ForceDirectories("\\GC\\sub"));
    ASSERT_TRUE(PutFile(fs, "\\GC\\PROFILE.INI", Pattern(700, 1)));
    ASSERT_TRUE(PutFile(fs, "\\GC\\sub\\big.bin", Pattern(5 * kDataSize + 17, 2)));
    ASSERT_TRUE(PutFile(fs, "\\exact", Pattern(2 * kDataSize, 3)));
    ASSERT_TRUE(PutFile(fs, "\\empty", {}));
    ASSERT_TRUE(PutFile(fs, "\\own", Pattern(3 * kDataSize + 1, 4), "ownpw"));
  }
  void ExpectPopulated(TSingleFileSystem& fs) {
    EXPECT_TRUE(fs.DirectoryExists("\\GC\\sub"));
    EXPECT_EQ(GetFile(fs, "\\GC\\PROFILE.INI"), Pattern(700, 1));
    EXPECT_EQ(GetFile(fs, "\\GC\\sub\\big.bin"), Pattern(5 * kDataSize + 17, 2));
    EXPECT_EQ(GetFile(fs, "\\exact"), Pattern(2 * kDataSize, 3));
    bool ok = false;
    EXPECT_TRUE(GetFile(fs, "\\empty", &ok).empty());
    EXPECT_TRUE(ok);
    EXPECT_EQ(GetFile(fs, "\\own", nullptr, "ownpw"), Pattern(3 * kDataSize + 1, 4));
  }
};

TEST_F(RepairTest, CompactionDropsDeletedFilesAndShrinksTheContainer) {
  {
    auto fs = New();
    Populate(*fs);
    for (int i = 0; i < 6; ++i) {
      ASSERT_TRUE(PutFile(*fs, "\\junk" + IntToStr(i), Pattern(8 * kDataSize, 10 + i)));
    }
    for (int i = 0; i < 6; ++i) ASSERT_TRUE(fs->DeleteFile("\\junk" + IntToStr(i)));
  }
  const size_t before = FileBytes(Name).size();
  auto fs = Open();
  fs->ChangeDir("\\GC");
  AnsiString report = "old text";
  ASSERT_TRUE(fs->RepairFile(report, false, false, {}, {}, {}));
  EXPECT_EQ(report, "");
  EXPECT_EQ(fs->LastError, 0);
  EXPECT_EQ(fs->GetCurrentDir(), "\\GC");
  EXPECT_LT(FileBytes(Name).size(), before);
  ExpectPopulated(*fs);
  // Only the live items were carried over.
  EXPECT_EQ(fs->DIRManager().Items().ItemCount(), 7);
  EXPECT_FALSE(Exists(Name + "_new"));
  EXPECT_FALSE(Exists(Name + "0"));
  fs.reset();
  auto again = Open();
  ExpectPopulated(*again);
}

TEST_F(RepairTest, CopyKeepingTheKeysKeepsNeverWrittenPagesPlain) {
  // Pages added by SetFileSize were never written by FileWrite: they are
  // zeros labelled unencrypted, and must stay so in the copy.
  {
    auto fs = New("key");
    Populate(*fs);
    int32_t h = fs->OpenFile("\\grown", ModeCreate);
    uint8_t b[5] = {1, 2, 3, 4, 5};
    ASSERT_EQ(fs->FileWrite(h, b, 5), 5);
    ASSERT_EQ(fs->SetFileSize(h, 4 * kDataSize), 4 * kDataSize);
    fs->CloseFile(h);
    int32_t o = fs->OpenFile("\\owngrown", ModeCreate, "pw2");
    ASSERT_EQ(fs->SetFileSize(o, 2 * kDataSize + 3), 2 * kDataSize + 3);
    fs->CloseFile(o);
  }
  auto fs = Open("key");
  AnsiString report;
  ASSERT_TRUE(fs->RepairFile(report, false, false, {}, {}, {}));
  ExpectPopulated(*fs);
  std::vector<uint8_t> grown(4 * kDataSize, 0);
  std::memcpy(grown.data(), "\1\2\3\4\5", 5);
  EXPECT_EQ(GetFile(*fs, "\\grown"), grown);
  EXPECT_EQ(GetFile(*fs, "\\owngrown", nullptr, "pw2"), std::vector<uint8_t>(2 * kDataSize + 3, 0));
  fs.reset();
  EXPECT_TRUE(CheckPassword(Name, "key"));
}

TEST_F(RepairTest, ChangePasswordReKeysAndKeepsOwnPasswords) {
  {
    auto fs = New("old");
    Populate(*fs);
    fs->SetAppValue(77);
  }
  const auto oldBytes = FileBytes(Name);
  {
    auto fs = Open("old");
    ASSERT_TRUE(fs->ChangePassword("new", "q?", "a!"));
    EXPECT_EQ(fs->Password, "new");
    EXPECT_EQ(fs->GetAppValue(), 77u);
    ExpectPopulated(*fs);
  }
  EXPECT_FALSE(CheckPassword(Name, "old"));
  EXPECT_TRUE(CheckPassword(Name, "new"));
  EXPECT_THROW(Open("old"), Exception);
  auto fs = Open("new");
  ExpectPopulated(*fs);
  EXPECT_EQ(fs->GetAppValue(), 77u);
  EXPECT_NE(FileBytes(Name), oldBytes);
}

TEST_F(RepairTest, ChangePasswordEncryptsAndDecrypts) {
  {
    auto fs = New();
    Populate(*fs);
    ASSERT_TRUE(fs->ChangePassword("pw"));
    EXPECT_TRUE(fs->IsEncrypted());
    ExpectPopulated(*fs);
  }
  EXPECT_TRUE(IsFileEncrypted(Name));
  EXPECT_FALSE(testing::Contains(FileBytes(Name), Pattern(700, 1)));
  {
    auto fs = Open("pw");
    ASSERT_TRUE(fs->ChangePassword(""));
    EXPECT_FALSE(fs->IsEncrypted());
    EXPECT_EQ(fs->Password, "");
    ExpectPopulated(*fs);
  }
  EXPECT_FALSE(IsFileEncrypted(Name));
  EXPECT_TRUE(testing::Contains(FileBytes(Name), Pattern(700, 1)));
  auto fs = Open();
  ExpectPopulated(*fs);
}

TEST_F(RepairTest, SamePasswordChangesQuestionAndKeepsTheMasterKey) {
  {
    auto fs = New("same");
    Populate(*fs);
    int steps = 0;
    std::vector<double> seen;
    fs->OnProgress = [&](TSingleFileSystem&, bool&, double p) {
      ++steps;
      seen.push_back(p);
    };
    const AnsiString key = fs->PageFile().MasterKey;
    ASSERT_TRUE(fs->ChangePassword("same", "question", "answer"));
    EXPECT_EQ(fs->PageFile().MasterKey, key);
    EXPECT_EQ(seen, (std::vector<double>{0, 100}));
    ExpectPopulated(*fs);
  }
  auto fs = Open("same");
  ExpectPopulated(*fs);
  EXPECT_EQ(PasswordBlockQuestion(fs->PageFile().Header.PasswordBlock), "question");
}

TEST_F(RepairTest, EmptyPasswordOnUnencryptedContainerChangesNothing) {
  {
    auto fs = New();
    Populate(*fs);
  }
  const auto before = FileBytes(Name);
  auto fs = Open();
  EXPECT_TRUE(fs->ChangePassword(""));
  fs.reset();
  EXPECT_EQ(FileBytes(Name), before);
}

TEST_F(RepairTest, ReadOnlyContainerRefusesThePasswordChange) {
  {
    auto fs = New();
    Populate(*fs);
  }
  auto fs = Open({}, ModeReadOnly);
  EXPECT_FALSE(fs->ChangePassword("x"));
}

TEST_F(RepairTest, AfterTheSwitchTheObjectGoesOnWorking) {
  {
    auto fs = New("a");
    Populate(*fs);
  }
  int32_t lastHandle = -1;
  {
    auto fs = Open("a");
    int32_t before = fs->OpenFile("\\exact", ModeReadOnly);  // forgotten by the switch
    ASSERT_TRUE(fs->ChangePassword("b"));
    EXPECT_EQ(fs->FindHandle(before), nullptr);
    EXPECT_TRUE(fs->Exclusive);
    EXPECT_FALSE(fs->ReadOnly);
    fs->CloseFile(before);  // ignored
    // Enough new files for several new directory pages.
    for (int i = 0; i < 30; ++i) {
      int32_t h = fs->OpenFile("\\GC\\n" + IntToStr(i), ModeCreate);
      ASSERT_GT(h, before);
      lastHandle = h;
      auto data = Pattern(300 + static_cast<size_t>(i), 100 + static_cast<uint32_t>(i));
      ASSERT_EQ(fs->FileWrite(h, data.data(), static_cast<int32_t>(data.size())),
                static_cast<int32_t>(data.size()));
      fs->CloseFile(h);
    }
    EXPECT_GT(lastHandle, 30);
  }
  auto fs = Open("b");
  ExpectPopulated(*fs);
  for (int i = 0; i < 30; ++i) {
    EXPECT_EQ(GetFile(*fs, "\\GC\\n" + IntToStr(i)),
              Pattern(300 + static_cast<size_t>(i), 100 + static_cast<uint32_t>(i)))
        << i;
  }
}

TEST_F(RepairTest, ProgressRunsFromZeroToHundred) {
  {
    auto fs = New();
    Populate(*fs);
  }
  auto fs = Open();
  std::vector<double> seen;
  fs->OnProgress = [&](TSingleFileSystem& sender, bool& cancel, double p) {
    EXPECT_EQ(&sender, fs.get());
    EXPECT_FALSE(cancel);
    seen.push_back(p);
  };
  AnsiString report;
  ASSERT_TRUE(fs->RepairFile(report, false, false, {}, {}, {}));
  const int items = 7;  // GC, sub, PROFILE.INI, big.bin, exact, empty, own
  ASSERT_EQ(seen.size(), static_cast<size_t>(items + 1));
  for (int i = 0; i < items; ++i) EXPECT_DOUBLE_EQ(seen[static_cast<size_t>(i)], 100.0 * i / items);
  EXPECT_EQ(seen.back(), 100);
}

TEST_F(RepairTest, CancelOnFirstProgressLeavesTheOldFile) {
  {
    auto fs = New("pw");
    Populate(*fs);
  }
  const auto before = FileBytes(Name);
  auto fs = Open("pw");
  int calls = 0;
  fs->OnProgress = [&](TSingleFileSystem&, bool& cancel, double) {
    ++calls;
    cancel = true;
  };
  AnsiString report;
  EXPECT_FALSE(fs->RepairFile(report, false, true, "other", {}, {}));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(report, "RepairFile cancelled. Original file restored.\r\n");
  EXPECT_FALSE(Exists(Name + "_new"));
  EXPECT_EQ(FileBytes(Name), before);
  // The object still works on the old file.
  fs->OnProgress = nullptr;
  ExpectPopulated(*fs);
  EXPECT_TRUE(fs->ChangePassword("other"));
  ExpectPopulated(*fs);
}

TEST_F(RepairTest, LeftoverBaseZeroMakesTheOldFileGoToBaseOne) {
  {
    auto fs = New();
    Populate(*fs);
  }
  WriteFileBytes(Name + "0", {'l', 'e', 'f', 't'});
  TFakeFileSystem watch;
  std::vector<std::pair<AnsiString, AnsiString>> renames;
  watch.Fault = [&](TFakeFileSystem::TOp op, const AnsiString& path) {
    if (op == TFakeFileSystem::TOp::Rename) renames.push_back({path, {}});
    return 0;
  };
  os::TScopedService<os::IFileSystem> scope(watch);
  auto fs = Open();
  AnsiString report;
  ASSERT_TRUE(fs->RepairFile(report, false, false, {}, {}, {}));
  ASSERT_GE(renames.size(), 2u);
  EXPECT_EQ(renames[0].first, Name);           // the old file moves aside ...
  EXPECT_EQ(renames[1].first, Name + "_new");  // ... and the new one takes its name
  EXPECT_TRUE(Exists(Name + "0"));
  EXPECT_EQ(FileBytes(Name + "0"), (std::vector<uint8_t>{'l', 'e', 'f', 't'}));
  EXPECT_FALSE(Exists(Name + "1"));  // renamed there, then deleted
  EXPECT_EQ(watch.Calls[TFakeFileSystem::TOp::Delete] > 0, true);
  ExpectPopulated(*fs);
  EXPECT_EQ(Dir.Files(), (std::vector<std::string>{"doc.sfs", "doc.sfs0"}));
}

TEST_F(RepairTest, OldFileThatCannotMoveAsideKeepsTheOldFileInUse) {
  {
    auto fs = New();
    Populate(*fs);
  }
  const auto before = FileBytes(Name);
  TFakeFileSystem failing;
  int renameCalls = 0;
  failing.Fault = [&](TFakeFileSystem::TOp op, const AnsiString&) {
    if (op != TFakeFileSystem::TOp::Rename) return 0;
    ++renameCalls;
    return EBUSY;
  };
  os::TScopedService<os::IFileSystem> scope(failing);
  auto fs = Open();
  AnsiString report;
  EXPECT_FALSE(fs->RepairFile(report, false, false, {}, {}, {}));
  EXPECT_EQ(fs->LastError, sfsSwitchFailed);
  EXPECT_EQ(renameCalls, 1);  // no retry without end
  EXPECT_FALSE(Exists(Name + "_new"));
  ExpectPopulated(*fs);
  EXPECT_TRUE(PutFile(*fs, "\\after", {1}));
  fs.reset();
  EXPECT_NE(FileBytes(Name), before);  // the object went on writing the old file
}

TEST_F(RepairTest, NewFileThatCannotTakeTheNamePutsTheOldOneBack) {
  {
    auto fs = New();
    Populate(*fs);
  }
  TFakeFileSystem failing;
  failing.Fault = [&](TFakeFileSystem::TOp op, const AnsiString& path) {
    return op == TFakeFileSystem::TOp::Rename && path == Name + "_new" ? EACCES : 0;
  };
  os::TScopedService<os::IFileSystem> scope(failing);
  auto fs = Open();
  AnsiString report;
  EXPECT_FALSE(fs->RepairFile(report, false, false, {}, {}, {}));
  EXPECT_EQ(fs->LastError, sfsSwitchFailed);
  EXPECT_TRUE(Exists(Name));
  EXPECT_FALSE(Exists(Name + "0"));
  EXPECT_TRUE(Exists(Name + "_new"));  // stays on the disk
  ExpectPopulated(*fs);
}

TEST_F(RepairTest, NotEnoughFreeSpace) {
  {
    auto fs = New();
    Populate(*fs);
  }
  TFakeFileSystem small;
  small.FreeSpace = 1000;
  os::TScopedService<os::IFileSystem> scope(small);
  auto fs = Open();
  int fired = 0;
  fs->OnDiskFull = [&](TSingleFileSystem&) {
    ++fired;
    throw Exception("ignored");
  };
  AnsiString report;
  EXPECT_FALSE(fs->RepairFile(report, false, false, {}, {}, {}));
  EXPECT_EQ(report, "Not enough space.");
  EXPECT_EQ(fired, 1);
  EXPECT_FALSE(Exists(Name + "_new"));
}

TEST_F(RepairTest, StoreFullDuringTheCopyIsACriticalError) {
  {
    auto fs = New();
    Populate(*fs);
  }
  const auto before = FileBytes(Name);
  TFakeFileSystem full;
  full.SizeLimit = 6 * 4096;  // the new file cannot hold the copy
  os::TScopedService<os::IFileSystem> scope(full);
  auto fs = Open();
  int fired = 0;
  fs->OnDiskFull = [&](TSingleFileSystem&) { ++fired; };
  AnsiString report;
  EXPECT_FALSE(fs->RepairFile(report, false, false, {}, {}, {}));
  EXPECT_EQ(report.rfind("Critical error occured. Original file restored.\r\n", 0), 0u) << report;
  EXPECT_GE(fired, 1);
  EXPECT_FALSE(Exists(Name + "_new"));
  EXPECT_EQ(FileBytes(Name), before);
  ExpectPopulated(*fs);
}

class DamagedRepairTest : public RepairTest {
 protected:
  // The store is cut in the middle of the last data page of
  // \GC\sub\big.bin, the file written last, which makes that page unreadable.
  void MakeDamaged(const AnsiString& password) {
    int64_t cut = 0;
    {
      auto fs = New(password);
      ASSERT_TRUE(fs->ForceDirectories("\\GC\\sub"));
      ASSERT_TRUE(PutFile(*fs, "\\GC\\PROFILE.INI", Pattern(700, 1)));
      ASSERT_TRUE(PutFile(*fs, "\\exact", Pattern(2 * kDataSize, 3)));
      ASSERT_TRUE(PutFile(*fs, "\\GC\\sub\\big.bin", Pattern(20 * kDataSize + 17, 2)));
      int32_t h = fs->OpenFile("\\GC\\sub\\big.bin", ModeReadOnly);
      TDIRItem item;
      fs->DIRManager().ReadItem(fs->FindHandle(h)->ItemNo, item);
      fs->CloseFile(h);
      TIntegerArray pages;
      ASSERT_TRUE(fs->PageMaps().GetDataPages(item, false, pages, 1, item.Size - 1));
      ASSERT_EQ(pages.ItemCount(), 1);
      cut = testing::kPartHeaderSize + int64_t{pages[0]} * 4096 + 100;
    }
    auto bytes = FileBytes(Name);
    ASSERT_GT(static_cast<int64_t>(bytes.size()), cut);
    bytes.resize(static_cast<size_t>(cut));
    WriteFileBytes(Name, bytes);
  }
};

TEST_F(DamagedRepairTest, RepairModeLeavesTheDamagedFileOut) {
  MakeDamaged({});
  auto fs = Open();
  EXPECT_TRUE(GetFile(*fs, "\\GC\\sub\\big.bin").size() < 20 * kDataSize + 17);
  AnsiString report;
  ASSERT_TRUE(fs->RepairFile(report, true, false, {}, {}, {}));
  EXPECT_EQ(report, "File \"\\GC\\sub\\big.bin\" deleted. \r\n");
  EXPECT_EQ(fs->LastError, 0);
  EXPECT_FALSE(fs->FileExists("\\GC\\sub\\big.bin"));
  EXPECT_TRUE(fs->DirectoryExists("\\GC\\sub"));
  EXPECT_EQ(GetFile(*fs, "\\GC\\PROFILE.INI"), Pattern(700, 1));
  EXPECT_EQ(GetFile(*fs, "\\exact"), Pattern(2 * kDataSize, 3));
}

TEST_F(DamagedRepairTest, ChangePasswordOfADamagedContainerFailsAndKeepsIt) {
  MakeDamaged("pw");
  const auto before = FileBytes(Name);
  auto fs = Open("pw");
  EXPECT_FALSE(fs->ChangePassword("new"));
  EXPECT_EQ(fs->Password, "pw");
  EXPECT_FALSE(Exists(Name + "_new"));
  fs.reset();
  EXPECT_EQ(FileBytes(Name), before);
  EXPECT_TRUE(CheckPassword(Name, "pw"));
  // RepairFile outside repair mode says why.
  auto again = Open("pw");
  AnsiString report;
  EXPECT_FALSE(again->RepairFile(report, false, true, "new", {}, {}));
  EXPECT_EQ(report.rfind("Critical error occured. Original file restored.\r\n", 0), 0u);
  EXPECT_NE(report.find("\\GC\\sub\\big.bin"), AnsiString::npos) << report;
}

TEST_F(RepairTest, ChangeFilePasswordSwallowsErrors) {
  {
    auto fs = New("one");
    Populate(*fs);
  }
  EXPECT_FALSE(ChangeFilePassword(Name, "wrong", "two"));
  EXPECT_FALSE(ChangeFilePassword(Dir / "missing.sfs", "one", "two"));
  EXPECT_TRUE(ChangeFilePassword(Name, "one", "two"));
  EXPECT_TRUE(CheckPassword(Name, "two"));
  auto fs = Open("two");
  ExpectPopulated(*fs);
}

// A directory record whose page map points past the store, and one with a
// negative size: reading fails with an error, repair mode leaves both out.
TEST_F(RepairTest, DamagedRecordsAreLeftOutInRepairMode) {
  int64_t recordAt = 0;
  {
    auto fs = New();
    ASSERT_TRUE(PutFile(*fs, "\\good", Pattern(5000, 50)));
    ASSERT_TRUE(PutFile(*fs, "\\badmap", Pattern(5000, 51)));
    ASSERT_TRUE(PutFile(*fs, "\\badsize", Pattern(100, 52)));
    recordAt = testing::kPartHeaderSize + int64_t{fs->DIRManager().DIRPages()[0]} * 4096 + 32;
  }
  auto bytes = FileBytes(Name);
  const int32_t farPage = 0x00100000;
  std::memcpy(&bytes[static_cast<size_t>(recordAt + 512)], &farPage, 4);  // item 1
  const int64_t negative = -5;
  std::memcpy(&bytes[static_cast<size_t>(recordAt + 2 * 512 + 4)], &negative, 8);  // item 2
  WriteFileBytes(Name, bytes);

  auto fs = Open();
  int32_t h = fs->OpenFile("\\badmap", ModeReadOnly);
  ASSERT_GE(h, 0);
  uint8_t buf[16];
  EXPECT_THROW(fs->FileRead(h, buf, 16), Exception);
  fs->CloseFile(h);
  EXPECT_TRUE(GetFile(*fs, "\\badsize").empty());

  AnsiString report;
  EXPECT_FALSE(fs->RepairFile(report, false, false, {}, {}, {}));
  EXPECT_EQ(report.rfind("Critical error occured. Original file restored.\r\n", 0), 0u);
  ASSERT_TRUE(fs->RepairFile(report, true, false, {}, {}, {}));
  EXPECT_EQ(report, "File \"\\badmap\" deleted. \r\nFile \"\\badsize\" deleted. \r\n");
  EXPECT_EQ(GetFile(*fs, "\\good"), Pattern(5000, 50));
  EXPECT_FALSE(fs->FileExists("\\badmap"));
  EXPECT_FALSE(fs->FileExists("\\badsize"));
}

TEST_F(RepairTest, TooLongNewPasswordRaisesAndLeavesNoNewFile) {
  {
    auto fs = New("pw");
    Populate(*fs);
  }
  const auto before = FileBytes(Name);
  auto fs = Open("pw");
  try {
    fs->ChangePassword(AnsiString(33, 'x'));
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "Password length should be shorter then 32");
  }
  EXPECT_FALSE(Exists(Name + "_new"));
  ExpectPopulated(*fs);
  fs.reset();
  EXPECT_EQ(FileBytes(Name), before);
  EXPECT_FALSE(ChangeFilePassword(Name, "pw", AnsiString(40, 'y')));
  EXPECT_TRUE(CheckPassword(Name, "pw"));
}

}  // namespace
}  // namespace zk
