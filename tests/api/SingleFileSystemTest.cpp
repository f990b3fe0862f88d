// The container object: constructors, handles, reading and writing files
// inside a container, folders, file passwords and the no-space path.
#include <gtest/gtest.h>

#include <cstring>

#include "container/api/SingleFileSystem.h"
#include "container/engine/DIRManager.h"
#include "container/engine/PageFileManager.h"
#include "platform/os/testing/FakeFileSystem.h"
#include "platform/os/testing/FakePasswordPrompt.h"
#include "platform/rtl/Exception.h"
#include "tests/api/ContainerTestSupport.h"

namespace zk {
namespace {

using testing::Contains;
using testing::FileBytes;
using testing::GetFile;
using testing::kDataSize;
using testing::Pattern;
using testing::PutFile;
using testing::TContainerDir;

class SingleFileSystemTest : public ::testing::Test {
 protected:
  TContainerDir Dir;
  std::string Name = Dir / "box.sfs";

  std::unique_ptr<TSingleFileSystem> New(const AnsiString& password = {}, uint8_t compression = 0) {
    return TSingleFileSystem::Create(Name, ModeCreate, password, {}, {}, compression);
  }
  std::unique_ptr<TSingleFileSystem> Open(uint16_t mode = ModeReadWrite,
                                          const AnsiString& password = {}) {
    return TSingleFileSystem::Create(Name, mode, password);
  }
};

TEST_F(SingleFileSystemTest, NewContainerStoresCompressionOpeningIgnoresIt) {
  {
    auto fs = New({}, 0x23);
    EXPECT_EQ(fs->GetCompression(), 0x23);
    EXPECT_FALSE(fs->IsEncrypted());
    EXPECT_FALSE(fs->ReadOnly);
    EXPECT_TRUE(fs->Exclusive);
    EXPECT_EQ(fs->Mode, ModeCreate);
  }
  auto fs = TSingleFileSystem::Create(Name, ModeReadWrite, {}, {}, {}, 0x11);
  EXPECT_EQ(fs->GetCompression(), 0x23);
  EXPECT_EQ(fs->Mode, ModeReadWrite | ModeExclusive);
  EXPECT_TRUE(fs->Exclusive);
}

TEST_F(SingleFileSystemTest, ReadOnlyOpenAndAppValue) {
  {
    auto fs = New();
    fs->SetAppValue(0x12345678);
  }
  auto fs = Open(ModeReadOnly);
  EXPECT_TRUE(fs->ReadOnly);
  EXPECT_EQ(fs->GetAppValue(), 0x12345678u);
  EXPECT_EQ(fs->OpenFile("\\new.txt", ModeCreate), sfsBadHandle);
  EXPECT_FALSE(fs->ForceDirectories("\\x"));
}

TEST_F(SingleFileSystemTest, UnencryptedContainerForgetsItsPassword) {
  New();
  auto fs = Open(ModeReadWrite, "whatever");
  EXPECT_EQ(fs->Password, "");
}

TEST_F(SingleFileSystemTest, CreateExWithWrongPasswordRaisesBeforeOpening) {
  Name = Dir / "we\"ird.sfs";
  New("right");
  const std::string expected =
      "TSingleFileSystem.Create - invalid password specified, file name = \"" + Dir.Path() +
      "/we\"\"ird.sfs\"";
  try {
    TSingleFileSystem::CreateEx(Name, ModeReadWrite, false, "wrong", {}, {}, 0, 4096, 8, -1);
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, expected);
  }
  // Create refuses the same way instead of reading with a wrong key.
  try {
    Open(ModeReadWrite, "wrong");
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, expected);
  }
  EXPECT_THROW(Open(ModeReadOnly, ""), Exception);
  EXPECT_NO_THROW(Open(ModeReadOnly, "right"));
}

TEST_F(SingleFileSystemTest, CreateExKeepsModeAndSettings) {
  {
    auto fs = TSingleFileSystem::CreateEx(Name, ModeCreate, false, {}, {}, {}, 7, 544, 4, -1);
    EXPECT_EQ(int32_t{fs->PageFile().Header.PageSize}, 544);
    EXPECT_EQ(int32_t{fs->PageFile().Header.ExtentPageCount}, 4);
    EXPECT_EQ(fs->GetCompression(), 7);
    EXPECT_TRUE(PutFile(*fs, "\\a", Pattern(3000, 1)));
  }
  auto fs = TSingleFileSystem::CreateEx(Name, ModeReadWrite, false, {}, {}, {}, 0, 4096, 8, -1);
  EXPECT_FALSE(fs->Exclusive);  // no exclusive bit added
  EXPECT_EQ(GetFile(*fs, "\\a"), Pattern(3000, 1));
}

TEST_F(SingleFileSystemTest, MissingFileRaisesThePageFileMessage) {
  try {
    Open();
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "File '" + Name + "' not found");
  }
}

TEST_F(SingleFileSystemTest, ReadsAtAcrossAndBeyondTheEnd) {
  auto fs = New();
  const auto data = Pattern(10000, 2);
  ASSERT_TRUE(PutFile(*fs, "\\f", data));
  int32_t h = fs->OpenFile("\\f", ModeReadOnly);
  ASSERT_GE(h, 0);
  std::vector<uint8_t> buf(20000, 0xEE);
  struct Case {
    int64_t At;
    int32_t Count;
    int32_t Expected;
  } cases[] = {
      {0, 10000, 10000}, {0, 20000, 10000}, {9990, 100, 10},         {10000, 1, 0},
      {10001, 5, 0},     {4060, 10, 10},    {kDataSize, 4064, 4064}, {123, 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(fs->FileSeek(h, c.At, 0), c.At);
    const int32_t n = fs->FileRead(h, buf.data(), c.Count);
    EXPECT_EQ(n, c.Expected) << c.At << " " << c.Count;
    if (n > 0) {
      EXPECT_EQ(0, std::memcmp(buf.data(), data.data() + c.At, static_cast<size_t>(n)));
    }
    EXPECT_EQ(fs->FileSeek(h, 0, 1), c.At + std::max(n, 0));
    EXPECT_EQ(fs->LastError, 0);
  }
  fs->CloseFile(h);
}

TEST_F(SingleFileSystemTest, WritesBeyondTheEndGrowTheFile) {
  auto fs = New();
  int32_t h = fs->OpenFile("\\g", ModeCreate);
  ASSERT_GE(h, 0);
  const auto tail = Pattern(100, 3);
  EXPECT_EQ(fs->FileSeek(h, 9000, 0), 9000);
  EXPECT_EQ(fs->FileWrite(h, tail.data(), 100), 100);
  EXPECT_EQ(fs->FileSeek(h, 0, 2), 9100);
  fs->FileSeek(h, 0, 0);
  std::vector<uint8_t> got(9100);
  EXPECT_EQ(fs->FileRead(h, got.data(), 9100), 9100);
  EXPECT_EQ(std::vector<uint8_t>(got.begin(), got.begin() + 9000), std::vector<uint8_t>(9000, 0));
  EXPECT_EQ(std::vector<uint8_t>(got.begin() + 9000, got.end()), tail);
  // Overwrite inside: partial pages are read, changed and written back.
  const auto mid = Pattern(5000, 4);
  fs->FileSeek(h, 2000, 0);
  EXPECT_EQ(fs->FileWrite(h, mid.data(), 5000), 5000);
  EXPECT_EQ(fs->FileSeek(h, 0, 2), 9100);
  fs->CloseFile(h);
  auto all = GetFile(*fs, "\\g");
  ASSERT_EQ(all.size(), 9100u);
  EXPECT_TRUE(std::equal(mid.begin(), mid.end(), all.begin() + 2000));
  EXPECT_TRUE(std::equal(tail.begin(), tail.end(), all.begin() + 9000));
}

TEST_F(SingleFileSystemTest, SeekOriginsAndUnboundedPositions) {
  auto fs = New();
  ASSERT_TRUE(PutFile(*fs, "\\s", Pattern(5000, 5)));
  int32_t h = fs->OpenFile("\\s", ModeReadWrite);
  EXPECT_EQ(fs->FileSeek(h, 0, 2), 5000);
  EXPECT_EQ(fs->FileSeek(h, -10, 2), 4990);
  EXPECT_EQ(fs->FileSeek(h, 5, 1), 4995);
  EXPECT_EQ(fs->FileSeek(h, 77, 9), 4995);  // unknown origin
  EXPECT_EQ(fs->FileSeek(h, -100, 0), -100);
  uint8_t b[8] = {};
  EXPECT_EQ(fs->FileRead(h, b, 8), 0);
  EXPECT_EQ(fs->FileWrite(h, b, 8), 0);
  EXPECT_EQ(fs->FileSeek(h, 0, 1), -100);
  // A position whose page would be past the 2147483647th transfers nothing.
  const int64_t far = int64_t{2147483647} * kDataSize;
  EXPECT_EQ(fs->FileSeek(h, far, 0), far);
  EXPECT_EQ(fs->FileWrite(h, b, 8), 0);
  EXPECT_EQ(fs->FileSeek(h, 0, 2), 5000);
  EXPECT_EQ(fs->FileSeek(999, 0, 2), 0);  // unknown handle
  fs->CloseFile(h);
}

TEST_F(SingleFileSystemTest, SetFileSizeMovesThePositionAndRefusesReadOnlyHandles) {
  auto fs = New();
  ASSERT_TRUE(PutFile(*fs, "\\z", Pattern(9000, 6)));
  int32_t ro = fs->OpenFile("\\z", ModeReadOnly);
  EXPECT_EQ(fs->SetFileSize(ro, 10), sfsBadHandle);
  EXPECT_EQ(fs->SetFileSize(4711, 10), sfsBadHandle);
  uint8_t b = 0;
  EXPECT_EQ(fs->FileWrite(ro, &b, 1), 0);
  fs->CloseFile(ro);

  int32_t h = fs->OpenFile("\\z", ModeReadWrite);
  EXPECT_EQ(fs->SetFileSize(h, 100), 100);
  EXPECT_EQ(fs->FileSeek(h, 0, 1), 100);
  EXPECT_EQ(fs->SetFileSize(h, 20000), 20000);
  EXPECT_EQ(fs->FileSeek(h, 0, 1), 20000);
  EXPECT_EQ(fs->SetFileSize(h, -1), sfsBadHandle);
  fs->CloseFile(h);
  auto got = GetFile(*fs, "\\z");
  ASSERT_EQ(got.size(), 20000u);
  auto head = Pattern(9000, 6);
  EXPECT_TRUE(std::equal(head.begin(), head.begin() + 100, got.begin()));
  EXPECT_EQ(std::count(got.begin() + 100, got.end(), 0), 19900);
}

TEST_F(SingleFileSystemTest, HandleNumbersCountUpAndAreNeverReused) {
  auto fs = New();
  ASSERT_TRUE(PutFile(*fs, "\\h", {1, 2, 3}));  // handle 0
  int32_t a = fs->OpenFile("\\h", ModeReadOnly);
  int32_t b = fs->OpenFile("\\h", ModeReadOnly);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 2);
  fs->CloseFile(a);
  fs->CloseFile(a);  // unknown now: ignored
  EXPECT_EQ(fs->OpenFile("\\h", ModeReadOnly), 3);
  EXPECT_EQ(fs->HandleCount(), 2);
  EXPECT_EQ(fs->OpenFile("\\missing", ModeReadOnly), -1);
}

TEST_F(SingleFileSystemTest, OpenFilesCannotBeDeletedOrReplaced) {
  auto fs = New();
  ASSERT_TRUE(PutFile(*fs, "\\o", Pattern(100, 7)));
  int32_t h = fs->OpenFile("\\o", ModeReadOnly);
  EXPECT_FALSE(fs->DeleteFile("\\o"));
  EXPECT_EQ(fs->OpenFile("\\o", ModeCreate), sfsFileInUse);
  EXPECT_EQ(fs->CreateFile("\\o"), sfsFileInUse);
  fs->CloseFile(h);
  EXPECT_EQ(GetFile(*fs, "\\o"), Pattern(100, 7));
  // Closed, it is replaced by an empty file.
  int32_t r = fs->OpenFile("\\o", ModeCreate);
  ASSERT_GE(r, 0);
  EXPECT_EQ(fs->FileSeek(r, 0, 2), 0);
  fs->CloseFile(r);
  EXPECT_TRUE(fs->DeleteFile("\\o"));
  EXPECT_FALSE(fs->FileExists("\\o"));
  EXPECT_FALSE(fs->DeleteFile("\\o"));
}

TEST_F(SingleFileSystemTest, DeleteRefusesFoldersThatStillHoldItems) {
  auto fs = New();
  ASSERT_TRUE(fs->ForceDirectories("\\a\\b"));
  ASSERT_TRUE(PutFile(*fs, "\\a\\b\\f", {9}));
  EXPECT_FALSE(fs->DeleteFile("\\a"));
  EXPECT_FALSE(fs->DeleteFile("\\a\\b"));
  EXPECT_EQ(fs->CreateFile("\\a"), sfsFileInUse);
  EXPECT_TRUE(fs->DeleteFile("\\a\\b\\f"));
  EXPECT_TRUE(fs->DeleteFile("\\a\\b"));
  EXPECT_TRUE(fs->DeleteFile("\\a"));
  EXPECT_FALSE(fs->DirectoryExists("\\a"));
}

TEST_F(SingleFileSystemTest, FoldersAndCurrentFolder) {
  auto fs = New();
  EXPECT_EQ(fs->GetCurrentDir(), "\\");
  EXPECT_TRUE(fs->ForceDirectories("\\x\\y\\z"));
  EXPECT_TRUE(fs->DirectoryExists("\\x\\y"));
  EXPECT_TRUE(fs->ChangeDir("\\x\\y"));
  EXPECT_EQ(fs->GetCurrentDir(), "\\x\\y");
  ASSERT_TRUE(PutFile(*fs, "rel.txt", {1, 2}));
  EXPECT_TRUE(fs->FileExists("\\x\\y\\rel.txt"));
  EXPECT_TRUE(fs->FileExists("z"));  // folders count too
  EXPECT_FALSE(fs->DirectoryExists("rel.txt"));
  EXPECT_TRUE(fs->ChangeDir(".."));
  EXPECT_EQ(fs->GetCurrentDir(), "\\x");
}

TEST_F(SingleFileSystemTest, EncryptedContainerEnciphersFileData) {
  const auto data = Pattern(3 * 4064 + 5, 8);
  {
    auto fs = New("pass");
    EXPECT_TRUE(fs->IsEncrypted());
    EXPECT_EQ(fs->Password, "pass");
    ASSERT_TRUE(PutFile(*fs, "\\secret", data));
  }
  EXPECT_FALSE(Contains(FileBytes(Name), std::vector<uint8_t>(data.begin(), data.begin() + 64)));
  EXPECT_TRUE(IsFileEncrypted(Name));
  EXPECT_TRUE(CheckPassword(Name, "pass"));
  EXPECT_FALSE(CheckPassword(Name, "Pass"));
  auto fs = Open(ModeReadOnly, "pass");
  EXPECT_EQ(GetFile(*fs, "\\secret"), data);
}

TEST_F(SingleFileSystemTest, UnencryptedContainerStoresDataAsItIs) {
  const auto data = Pattern(5000, 9);
  {
    auto fs = New();
    ASSERT_TRUE(PutFile(*fs, "\\plain", data));
  }
  EXPECT_TRUE(Contains(FileBytes(Name), std::vector<uint8_t>(data.begin(), data.begin() + 4064)));
  EXPECT_FALSE(IsFileEncrypted(Name));
  EXPECT_TRUE(CheckPassword(Name, "anything"));
}

TEST_F(SingleFileSystemTest, FileWithItsOwnPasswordAsksThroughOnPassword) {
  const auto data = Pattern(6000, 10);
  auto fs = New();
  ASSERT_TRUE(PutFile(*fs, "\\own", data, "filepw"));
  std::vector<AnsiString> asked;
  std::vector<AnsiString> answers = {"bad", "filepw"};
  fs->OnPassword = [&](TSingleFileSystem& sender, const AnsiString& name, AnsiString& pw,
                       bool& cancel) {
    EXPECT_EQ(&sender, fs.get());
    asked.push_back(name);
    pw = answers[asked.size() - 1];
    cancel = false;
  };
  bool ok = false;
  EXPECT_EQ(GetFile(*fs, "\\own", &ok), data);
  EXPECT_TRUE(ok);
  EXPECT_EQ(asked, (std::vector<AnsiString>{"\\own", "\\own"}));

  // A handler that leaves Cancel set gets one attempt.
  asked.clear();
  fs->OnPassword = [&](TSingleFileSystem&, const AnsiString& name, AnsiString& pw, bool&) {
    asked.push_back(name);
    pw = "bad";
  };
  EXPECT_EQ(fs->OpenFile("\\own", ModeReadOnly), sfsPasswordRefused);
  EXPECT_EQ(asked.size(), 1u);
  // The right password needs no question.
  EXPECT_EQ(GetFile(*fs, "\\own", nullptr, "filepw"), data);
  EXPECT_EQ(asked.size(), 1u);
}

TEST_F(SingleFileSystemTest, DefaultPasswordQueryUsesThePlatformPrompt) {
  auto fs = New();
  ASSERT_TRUE(PutFile(*fs, "\\q", Pattern(10, 11), "pw"));
  os::testing::TFakePasswordPrompt prompt;
  os::TScopedService<os::IPasswordPrompt> scope(prompt);
  prompt.Confirm("nope");
  prompt.Confirm("pw");
  bool ok = false;
  EXPECT_EQ(GetFile(*fs, "\\q", &ok), Pattern(10, 11));
  ASSERT_EQ(prompt.Calls.size(), 2u);
  EXPECT_EQ(prompt.Calls[0].Caption, "Password for \"\\q\"");
  EXPECT_EQ(prompt.Calls[0].Prompt, "Enter password: ");
  // Cancelling gives -1.
  prompt.CancelNext();
  EXPECT_EQ(fs->OpenFile("\\q", ModeReadOnly), sfsPasswordRefused);
  // QueryPassword itself: Cancel is the dialog's "not confirmed".
  AnsiString pw = "start";
  bool cancel = false;
  prompt.Confirm("typed");
  fs->QueryPassword("\\q", pw, cancel);
  EXPECT_EQ(pw, "typed");
  EXPECT_FALSE(cancel);
  fs->QueryPassword("\\q", pw, cancel);  // queue empty: cancelled
  EXPECT_TRUE(cancel);
  EXPECT_EQ(pw, "typed");
}

TEST_F(SingleFileSystemTest, FileWithOwnPasswordInEncryptedContainer) {
  const auto mine = Pattern(9000, 12), shared = Pattern(9000, 13);
  {
    auto fs = New("outer");
    ASSERT_TRUE(PutFile(*fs, "\\mine", mine, "inner"));
    ASSERT_TRUE(PutFile(*fs, "\\shared", shared));
  }
  auto fs = Open(ModeReadOnly, "outer");
  EXPECT_EQ(GetFile(*fs, "\\mine", nullptr, "inner"), mine);
  EXPECT_EQ(GetFile(*fs, "\\shared"), shared);
}

TEST_F(SingleFileSystemTest, ManyFilesFillSeveralDirectoryPages) {
  {
    auto fs = New();
    ASSERT_TRUE(fs->ForceDirectories("\\d"));
    for (int i = 0; i < 40; ++i) {
      ASSERT_TRUE(PutFile(*fs, "\\d\\f" + IntToStr(i), Pattern(100 + i, static_cast<uint32_t>(i))));
    }
  }
  auto fs = Open(ModeReadOnly);
  for (int i = 0; i < 40; ++i) {
    EXPECT_EQ(GetFile(*fs, "\\d\\f" + IntToStr(i)), Pattern(100 + i, static_cast<uint32_t>(i)));
  }
}

TEST_F(SingleFileSystemTest, DiskFullReportsNoSpaceAndKeepsWhatWasStored) {
  const auto first = Pattern(20000, 14);
  {
    auto fs = New();
    ASSERT_TRUE(PutFile(*fs, "\\first", first));
  }
  const int64_t limit = static_cast<int64_t>(FileBytes(Name).size()) + 2 * 4096;
  {
    os::testing::TFakeFileSystem full;
    full.SizeLimit = limit;
    os::TScopedService<os::IFileSystem> scope(full);
    auto fs = Open();
    int fired = 0;
    fs->OnDiskFull = [&](TSingleFileSystem& sender) {
      EXPECT_EQ(&sender, fs.get());
      ++fired;
    };
    int32_t h = fs->OpenFile("\\second", ModeCreate);
    ASSERT_GE(h, 0);
    const auto big = Pattern(200000, 15);
    EXPECT_EQ(fs->FileWrite(h, big.data(), static_cast<int32_t>(big.size())), 0);
    EXPECT_EQ(fs->LastError, sfsNoSpace);
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(fs->SetFileSize(h, 1000000), sfsNoSpace);
    EXPECT_EQ(fs->LastError, sfsNoSpace);
    EXPECT_EQ(fired, 2);
    // Small writes that fit still work.
    EXPECT_EQ(fs->FileWrite(h, big.data(), 100), 100);
    fs->CloseFile(h);
    EXPECT_EQ(GetFile(*fs, "\\first"), first);
  }
  auto fs = Open(ModeReadOnly);
  EXPECT_EQ(GetFile(*fs, "\\first"), first);
  const auto big = Pattern(200000, 15);
  EXPECT_EQ(GetFile(*fs, "\\second"), std::vector<uint8_t>(big.begin(), big.begin() + 100));
  EXPECT_EQ(GetFile(*fs, "\\second").size(), 100u);
}

TEST_F(SingleFileSystemTest, DiskFullWhenCreatingFiles) {
  {
    auto fs = New();
    ASSERT_TRUE(PutFile(*fs, "\\keep", Pattern(50, 16)));
  }
  os::testing::TFakeFileSystem full;
  full.SizeLimit = static_cast<int64_t>(FileBytes(Name).size());
  os::TScopedService<os::IFileSystem> scope(full);
  auto fs = Open();
  int fired = 0;
  fs->OnDiskFull = [&](TSingleFileSystem&) { ++fired; };
  // A directory page has room for seven records; the free pages of the
  // first extent run out long before 70 records.
  int32_t created = 0;
  for (int i = 0; i < 70; ++i) {
    int32_t r = fs->CreateFile("\\n" + IntToStr(i));
    if (r < 0) {
      EXPECT_EQ(fs->LastError, sfsNoSpace);
      break;
    }
    ++created;
  }
  EXPECT_LT(created, 70);
  EXPECT_EQ(fired, 1);
  EXPECT_EQ(GetFile(*fs, "\\keep"), Pattern(50, 16));
}

TEST_F(SingleFileSystemTest, TimesOfWrittenFiles) {
  auto fs = New();
  int32_t h = fs->OpenFile("\\t", ModeCreate);
  uint8_t b[3] = {1, 2, 3};
  fs->FileWrite(h, b, 3);
  TDIRItem item;
  fs->DIRManager().ReadItem(fs->FindHandle(h)->ItemNo, item);
  EXPECT_EQ(int64_t{item.Size}, 3);
  EXPECT_GT(int64_t{item.LastWriteTime}, 0);
  fs->CloseFile(h);
}

TEST_F(SingleFileSystemTest, InMemoryContainerOverAnExistingFileLeavesItAlone) {
  {
    auto fs = New();
    ASSERT_TRUE(PutFile(*fs, "\\disk", Pattern(5000, 40)));
  }
  const auto before = FileBytes(Name);
  {
    auto fs = TSingleFileSystem::CreateEx(Name, ModeCreate, true, {}, {}, {}, 0, 4096, 8, -1);
    EXPECT_TRUE(fs->InMemory);
    EXPECT_FALSE(fs->ReadOnly);  // opened for reading and writing
    EXPECT_EQ(GetFile(*fs, "\\disk"), Pattern(5000, 40));
    ASSERT_TRUE(PutFile(*fs, "\\memory", Pattern(9000, 41)));
    EXPECT_EQ(GetFile(*fs, "\\memory"), Pattern(9000, 41));
    EXPECT_GE(fs->GetContainerSize(), 9000);
    AnsiString report;
    EXPECT_FALSE(fs->RepairFile(report, false, false, {}, {}, {}));  // not for memory
  }
  EXPECT_EQ(FileBytes(Name), before);
}

TEST_F(SingleFileSystemTest, ContainerSizeFollowsTheStore) {
  auto fs = New();
  const int64_t empty = fs->GetContainerSize();
  ASSERT_TRUE(PutFile(*fs, "\\grow", Pattern(100000, 42)));
  EXPECT_GT(fs->GetContainerSize(), empty + 100000);
  EXPECT_EQ(fs->GetContainerSize() + testing::kPartHeaderSize,
            static_cast<int64_t>(FileBytes(Name).size()));
}

}  // namespace
}  // namespace zk
