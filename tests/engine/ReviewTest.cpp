// A directory write that fails leaves the directory in memory as the disk
// holds it: a record whose page could not be written is not counted, and a
// record that could not be rewritten keeps its old form.
#include <gtest/gtest.h>

#include "platform/os/Service.h"
#include "platform/os/testing/FakeFileSystem.h"
#include "tests/engine/EngineTestSupport.h"

namespace zk {
namespace {

using os::testing::TFakeFileSystem;
using testing::MessageOf;
using testing::TEngine;
using testing::TTempDir;

// Seven folders fill the first directory page of 4096-byte pages.
TEngine SevenFolders(const std::string& path) {
  TEngine e = TEngine::Create(path);
  for (char c = 'a'; c < 'h'; ++c) EXPECT_TRUE(e.Dir->CreateDir(AnsiString("\\") + c));
  return e;
}

// Number of writes that Step makes on a twin container built by Make.
template <class FMake, class FStep>
int CountWrites(TFakeFileSystem& fs, const std::string& path, FMake make, FStep step) {
  TEngine e = make(path);
  fs.Calls.clear();
  step(e);
  return fs.Calls[TFakeFileSystem::TOp::Write];
}

// Fails write number N (from 1) of what follows.
void FailWrite(TFakeFileSystem& fs, int N) {
  auto count = std::make_shared<int>(0);
  fs.Fault = [count, N](TFakeFileSystem::TOp op, const AnsiString&) {
    return op == TFakeFileSystem::TOp::Write && ++*count == N ? EIO : 0;
  };
}

TEST(ReviewDirectory, NewPageThatCannotBeWrittenIsNotCounted) {
  TTempDir dir;
  TFakeFileSystem fs;
  os::TScopedService<os::IFileSystem> scoped(fs);
  auto step = [](TEngine& e) { return e.Dir->CreateDir("\\h"); };
  // The writes of the eighth folder: the free-space maps, the old last
  // page's header, the new page (header, then data), the container header.
  const int writes = CountWrites(fs, dir / "twin.sfs", SevenFolders, step);
  ASSERT_GE(writes, 4);
  const std::string path = dir / "real.sfs";
  TEngine e = SevenFolders(path);
  FailWrite(fs, writes - 1);  // the new page's records
  const std::string message = MessageOf([&] { step(e); });
  fs.Fault = nullptr;
  EXPECT_EQ(message.rfind("TDIRManager.AddItem - can not save page, pageNo = ", 0), 0u) << message;
  EXPECT_EQ(+e.PageFile->Header.DIRItemCount, 7);
  EXPECT_EQ(+e.PageFile->Header.DIRPageCount, 1);
  EXPECT_EQ(e.Dir->Items().ItemCount(), 7);
  EXPECT_EQ(e.Dir->DIRPages().ItemCount(), 1);
  EXPECT_LT(e.Dir->FindItem("\\h"), 0);
  EXPECT_TRUE(e.FreeSpace->PageIsFree(5));
  // The header saved later still describes what the disk holds.
  e.PageFile->SaveHeader();
  e.Close();
  TEngine again = TEngine::Open(path);
  EXPECT_EQ(again.Dir->Items().ItemCount(), 7);
  EXPECT_TRUE(again.Dir->CreateDir("\\h"));
  EXPECT_EQ(again.Dir->FindItem("\\h"), 7);
  EXPECT_EQ(again.Dir->DIRPages()[1], 5);
}

TEST(ReviewDirectory, RecordThatCannotBeAddedToItsPageIsNotCounted) {
  TTempDir dir;
  TFakeFileSystem fs;
  os::TScopedService<os::IFileSystem> scoped(fs);
  auto make = [](const std::string& p) {
    TEngine e = TEngine::Create(p);
    EXPECT_TRUE(e.Dir->CreateDir("\\a"));
    return e;
  };
  auto step = [](TEngine& e) { return e.Dir->CreateDir("\\b"); };
  const int writes = CountWrites(fs, dir / "twin.sfs", make, step);
  ASSERT_EQ(writes, 3);  // page header, page data, container header
  const std::string path = dir / "real.sfs";
  TEngine e = make(path);
  FailWrite(fs, 2);
  EXPECT_EQ(MessageOf([&] { step(e); }), "TDIRManager.AddItem - can not save page, pageNo = 4");
  fs.Fault = nullptr;
  EXPECT_EQ(+e.PageFile->Header.DIRItemCount, 1);
  EXPECT_EQ(e.Dir->Items().ItemCount(), 1);
  EXPECT_EQ(e.Dir->OpenCount(1), -1);
  EXPECT_LT(e.Dir->FindItem("\\b"), 0);
  EXPECT_TRUE(e.Dir->CreateDir("\\b"));
  EXPECT_EQ(e.Dir->FindItem("\\b"), 1);
}

TEST(ReviewDirectory, RecordThatCannotBeRewrittenKeepsItsOldForm) {
  TTempDir dir;
  TFakeFileSystem fs;
  os::TScopedService<os::IFileSystem> scoped(fs);
  TEngine e = TEngine::Create(dir / "w.sfs");
  ASSERT_TRUE(e.Dir->CreateDir("\\a"));
  const int32_t file = e.Dir->CreateFileItem("\\a\\f", "", "", "");
  ASSERT_EQ(file, 1);
  AnsiString key;
  ASSERT_EQ(e.Dir->OpenFileItem("\\a\\f", "", key), 1);
  TDIRItem rec;
  e.Dir->ReadItem(file, rec);
  rec.Deleted = 1;
  FailWrite(fs, 2);  // the page's records
  EXPECT_EQ(MessageOf([&] { e.Dir->WriteItem(file, rec); }),
            "TDIRManager.WriteItem - can not save page, pageNo = 4");
  fs.Fault = nullptr;
  // Still the live, open file that the disk holds: its slot is not reused.
  EXPECT_EQ(e.Dir->FindItem("\\a\\f"), 1);
  EXPECT_EQ(e.Dir->OpenCount(1), 1);
  EXPECT_EQ(e.Dir->Items().FirstReusableSlot(), -1);
  EXPECT_EQ(e.Dir->CreateFileItem("\\a\\g", "", "", ""), 2);
}

}  // namespace
}  // namespace zk
