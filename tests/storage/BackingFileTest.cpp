// Disk and memory backing files.
#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

#include "container/storage/SFSDiskFile.h"
#include "container/storage/SFSMemoryFile.h"
#include "platform/os/testing/FakeFileSystem.h"
#include "tests/storage/StorageTestSupport.h"

namespace zk {
namespace {

using testing::Exists;
using testing::FileSizeOf;
using testing::Pattern;
using testing::ReadBytes;
using testing::TTempDir;
using testing::WriteBytes;

constexpr int64_t GiB = int64_t{1} << 30;

TEST(DiskFile, OpenExistingOfMissingFileFailsWithoutRaising) {
  TTempDir dir;
  TSFSDiskFile file(dir / "missing.dat", false, false);
  EXPECT_FALSE(file.Open(false));
  EXPECT_FALSE(file.IsOpen());
  EXPECT_FALSE(Exists(dir / "missing.dat"));
}

TEST(DiskFile, CreateEmptiesAnExistingFile) {
  TTempDir dir;
  WriteBytes(dir / "a.dat", Pattern(1000));
  TSFSDiskFile file(dir / "a.dat", false, false);
  ASSERT_TRUE(file.Open(true));
  EXPECT_EQ(file.GetSize(), 0);
  EXPECT_EQ(FileSizeOf(dir / "a.dat"), 0);
}

TEST(DiskFile, WriteReadSeekRoundTrip) {
  TTempDir dir;
  TSFSDiskFile file(dir / "a.dat", false, false);
  ASSERT_TRUE(file.Open(true));
  auto data = Pattern(5000);
  EXPECT_EQ(file.Write(data.data(), 5000), 5000);
  EXPECT_EQ(file.GetPosition(), 5000);
  EXPECT_EQ(file.Seek(-1000, 1), 4000);
  EXPECT_EQ(file.Seek(-10, 2), 4990);
  file.SetPosition(100);
  std::vector<uint8_t> got(200);
  file.ReadBuffer(got.data(), 200);
  EXPECT_EQ(got, std::vector<uint8_t>(data.begin() + 100, data.begin() + 300));
  // Reading at the end gives 0; a failed seek gives -1.
  file.SetPosition(5000);
  EXPECT_EQ(file.Read(got.data(), 10), 0);
  EXPECT_EQ(file.Seek(-1, 0), -1);
}

TEST(DiskFile, WriteOfZeroBytesCutsTheFileAtThePosition) {
  TTempDir dir;
  TSFSDiskFile file(dir / "a.dat", false, false);
  ASSERT_TRUE(file.Open(true));
  auto data = Pattern(1000);
  file.WriteBuffer(data.data(), 1000);
  file.SetPosition(300);
  EXPECT_EQ(file.Write(data.data(), 0), 0);
  EXPECT_EQ(file.GetSize(), 300);
  EXPECT_EQ(file.GetPosition(), 300);
  file.Close();
  EXPECT_EQ(ReadBytes(dir / "a.dat"), std::vector<uint8_t>(data.begin(), data.begin() + 300));
}

TEST(MemoryFile, WriteOfZeroBytesChangesNothing) {
  TSFSMemoryFile file("mem.dat", false, false);
  ASSERT_TRUE(file.Open(true));
  auto data = Pattern(1000);
  file.WriteBuffer(data.data(), 1000);
  file.SetPosition(300);
  EXPECT_EQ(file.Write(data.data(), 0), 0);
  EXPECT_EQ(file.GetSize(), 1000);
  EXPECT_EQ(file.GetPosition(), 300);
}

TEST(DiskFile, SizeBeyondFourGiBKeepsThePosition) {
  TTempDir dir;
  TSFSDiskFile file(dir / "big.dat", false, false);
  ASSERT_TRUE(file.Open(true));
  file.SetSize(5 * GiB + 7);  // sparse
  EXPECT_EQ(file.GetPosition(), 5 * GiB + 7);
  const int64_t at = 4 * GiB + 12345;
  file.SetPosition(at);
  auto data = Pattern(100, at);
  file.WriteBuffer(data.data(), 100);
  file.SetPosition(at + 50);
  EXPECT_EQ(file.GetSize(), 5 * GiB + 7);
  EXPECT_EQ(file.GetPosition(), at + 50);
  std::vector<uint8_t> got(50);
  file.ReadBuffer(got.data(), 50);
  EXPECT_EQ(got, std::vector<uint8_t>(data.begin() + 50, data.end()));
  file.SetSize(10);
  EXPECT_EQ(FileSizeOf(dir / "big.dat"), 10);
}

TEST(DiskFile, SettingReadOnlyToItsValueKeepsTheFileOpen) {
  TTempDir dir;
  TSFSDiskFile file(dir / "a.dat", false, false);
  ASSERT_TRUE(file.Open(true));
  auto data = Pattern(100);
  file.WriteBuffer(data.data(), 100);
  os::testing::TFakeFileSystem fs;
  os::TScopedService<os::IFileSystem> scope(fs);
  const auto handle = file.Handle();
  file.SetReadOnly(false);
  file.SetExclusive(false);
  EXPECT_EQ(file.Handle(), handle);
  EXPECT_EQ(fs.Calls[os::testing::TFakeFileSystem::TOp::Close], 0);
  EXPECT_EQ(fs.Calls[os::testing::TFakeFileSystem::TOp::Open], 0);
}

TEST(DiskFile, ChangingReadOnlyReopensAtTheSamePositionWithTheNewAccess) {
  TTempDir dir;
  TSFSDiskFile file(dir / "a.dat", false, false);
  ASSERT_TRUE(file.Open(true));
  auto data = Pattern(100);
  file.WriteBuffer(data.data(), 100);
  file.SetPosition(42);
  file.SetReadOnly(true);
  EXPECT_TRUE(file.IsOpen());
  EXPECT_TRUE(file.ReadOnly());
  EXPECT_EQ(file.GetPosition(), 42);
  EXPECT_EQ(file.Write(data.data(), 10), -1);
  EXPECT_THROW(file.WriteBuffer(data.data(), 10), Exception);
  file.SetReadOnly(false);
  EXPECT_EQ(file.GetPosition(), 42);
  EXPECT_EQ(file.Write(data.data(), 10), 10);
}

TEST(DiskFile, AFlagThatCannotBeAppliedIsUndoneAndRaised) {
  TTempDir dir;
  TSFSDiskFile file(dir / "a.dat", true, false);
  WriteBytes(dir / "a.dat", Pattern(100));
  ASSERT_TRUE(file.Open(false));
  file.SetPosition(60);
  os::testing::TFakeFileSystem fs;
  // Only the open for writing is refused.
  bool refuse = true;
  fs.Fault = [&](auto op, const AnsiString&) {
    if (op == os::testing::TFakeFileSystem::TOp::Open && refuse) {
      refuse = false;
      return EACCES;
    }
    return 0;
  };
  os::TScopedService<os::IFileSystem> scope(fs);
  try {
    file.SetReadOnly(false);
    FAIL() << "no error";
  } catch (const EOSError& e) {
    EXPECT_EQ(e.ErrorCode, EACCES);
    EXPECT_EQ(e.Message, "Permission denied");
  }
  EXPECT_TRUE(file.ReadOnly());
  EXPECT_TRUE(file.IsOpen());
  EXPECT_EQ(file.GetPosition(), 60);
}

TEST(DiskFile, AFlagSetOnAClosedFileWaitsForTheNextOpen) {
  TTempDir dir;
  TSFSDiskFile file(dir / "a.dat", false, false);
  file.SetReadOnly(true);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_FALSE(Exists(dir / "a.dat"));
}

TEST(DiskFile, ExclusiveOpenKeepsOthersOut) {
  TTempDir dir;
  WriteBytes(dir / "a.dat", Pattern(10));
  TSFSDiskFile first(dir / "a.dat", false, true);
  ASSERT_TRUE(first.Open(false));
  TSFSDiskFile second(dir / "a.dat", true, false);
  EXPECT_FALSE(second.Open(false));
  first.Close();
  ASSERT_TRUE(second.Open(false));
  // A shared opener keeps an exclusive one out, but not another shared one.
  TSFSDiskFile third(dir / "a.dat", true, false);
  EXPECT_TRUE(third.Open(false));
  EXPECT_FALSE(first.Open(false));
  // Switching an open file to exclusive while others hold it fails and
  // leaves it shared and open.
  EXPECT_THROW(third.SetExclusive(true), EOSError);
  EXPECT_FALSE(third.Exclusive());
  EXPECT_TRUE(third.IsOpen());
}

TEST(DiskFile, SetSizeFailureRaisesTheOperatingSystemError) {
  TTempDir dir;
  TSFSDiskFile file(dir / "a.dat", false, false);
  ASSERT_TRUE(file.Open(true));
  os::testing::TFakeFileSystem fs;
  fs.SizeLimit = 1000;
  os::TScopedService<os::IFileSystem> scope(fs);
  file.SetSize(1000);
  try {
    file.SetSize(1001);
    FAIL() << "no error";
  } catch (const EOSError& e) {
    EXPECT_EQ(e.ErrorCode, ENOSPC);
    EXPECT_EQ(e.Message, "No space left on device");
  }
  EXPECT_EQ(FileSizeOf(dir / "a.dat"), 1000);
}

TEST(DiskFile, SetSizeOfAReadOnlyOrClosedFileRaises) {
  TTempDir dir;
  WriteBytes(dir / "a.dat", Pattern(10));
  TSFSDiskFile file(dir / "a.dat", true, false);
  ASSERT_TRUE(file.Open(false));
  EXPECT_THROW(file.SetSize(5), EOSError);
  file.Close();
  EXPECT_THROW(file.SetSize(5), EOSError);
  EXPECT_EQ(FileSizeOf(dir / "a.dat"), 10);
}

TEST(BackingFile, ReadBufferAndWriteBufferNeedTheWholeCount) {
  TTempDir dir;
  TSFSDiskFile disk(dir / "a.dat", false, false);
  ASSERT_TRUE(disk.Open(true));
  TSFSMemoryFile memory("mem", false, false);
  ASSERT_TRUE(memory.Open(true));
  for (TSFSAbstractFile* file :
       {static_cast<TSFSAbstractFile*>(&disk), static_cast<TSFSAbstractFile*>(&memory)}) {
    auto data = Pattern(10);
    file->WriteBuffer(data.data(), 10);
    std::vector<uint8_t> got(20);
    // At the end: 0 bytes never raise, more do.
    file->ReadBuffer(got.data(), 0);
    file->SetPosition(5);
    try {
      file->ReadBuffer(got.data(), 6);
      FAIL() << "no error";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message, "TSFSAbstractFile.ReadBuffer - Stream read error");
    }
  }
  disk.Close();
  TSFSDiskFile readOnly(dir / "a.dat", true, false);
  ASSERT_TRUE(readOnly.Open(false));
  uint8_t byte = 0;
  readOnly.WriteBuffer(&byte, 0);
  try {
    readOnly.WriteBuffer(&byte, 1);
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "TSFSAbstractFile.WriteBuffer - Stream write error");
  }
}

// A memory file that records the sizes it is asked to read.
class TRecordingFile : public TSFSMemoryFile {
 public:
  using TSFSMemoryFile::TSFSMemoryFile;
  int32_t Read(void* Buffer, int32_t Count) override {
    Reads.push_back(Count);
    return TSFSMemoryFile::Read(Buffer, Count);
  }
  std::vector<int32_t> Reads;
};

TEST(BackingFile, CopyFromCopiesInChunksOf61440Bytes) {
  TRecordingFile source("src", false, false);
  ASSERT_TRUE(source.Open(true));
  auto data = Pattern(250000);
  source.WriteBuffer(data.data(), 250000);
  source.SetPosition(1000);
  TTempDir dir;
  TSFSDiskFile target(dir / "t.dat", false, false);
  ASSERT_TRUE(target.Open(true));
  EXPECT_EQ(target.CopyFrom(source, 200000), 200000);
  EXPECT_EQ(source.Reads, (std::vector<int32_t>{61440, 61440, 61440, 15680}));
  target.Close();
  EXPECT_EQ(ReadBytes(dir / "t.dat"),
            std::vector<uint8_t>(data.begin() + 1000, data.begin() + 201000));
}

TEST(BackingFile, CopyFromWithCountZeroCopiesTheWholeSource) {
  TSFSMemoryFile source("src", false, false);
  ASSERT_TRUE(source.Open(true));
  auto data = Pattern(70000);
  source.WriteBuffer(data.data(), 70000);
  TSFSMemoryFile target("dst", false, false);
  ASSERT_TRUE(target.Open(true));
  EXPECT_EQ(target.CopyFrom(source, 0), 70000);
  EXPECT_EQ(target.GetSize(), 70000);
  std::vector<uint8_t> got(70000);
  target.SetPosition(0);
  target.ReadBuffer(got.data(), 70000);
  EXPECT_EQ(got, data);
  // A copy that runs past the end of the source raises the read error.
  source.SetPosition(69000);
  EXPECT_THROW(target.CopyFrom(source, 2000), Exception);
}

TEST(MemoryFile, OnlyCreationIsAvailable) {
  TSFSMemoryFile file("mem", false, false);
  try {
    file.Open(false);
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "TSFSMemoryFile.Open - File cannot be open, only creation is available.");
  }
  // Closed: transfers fail, a resize raises.
  uint8_t byte = 0;
  EXPECT_EQ(file.Read(&byte, 1), -1);
  EXPECT_EQ(file.Write(&byte, 1), -1);
  EXPECT_EQ(file.Seek(0, 0), -1);
  EXPECT_THROW(file.SetSize(10), Exception);
}

TEST(MemoryFile, ClosingDiscardsTheBytes) {
  TSFSMemoryFile file("mem", false, false);
  ASSERT_TRUE(file.Open(true));
  auto data = Pattern(100);
  file.WriteBuffer(data.data(), 100);
  file.SetSize(40);
  EXPECT_EQ(file.GetSize(), 40);
  file.Close();
  EXPECT_FALSE(file.IsOpen());
  ASSERT_TRUE(file.Open(true));
  EXPECT_EQ(file.GetSize(), 0);
}

TEST(DiskFile, DestroyingAnOpenFileFlushesAndClosesIt) {
  TTempDir dir;
  os::testing::TFakeFileSystem fs;
  os::TScopedService<os::IFileSystem> scope(fs);
  {
    TSFSDiskFile file(dir / "a.dat", false, true);
    ASSERT_TRUE(file.Open(true));
    auto data = Pattern(300);
    file.WriteBuffer(data.data(), 300);
  }
  EXPECT_EQ(fs.Calls[os::testing::TFakeFileSystem::TOp::Flush], 1);
  EXPECT_EQ(fs.Calls[os::testing::TFakeFileSystem::TOp::Close], 1);
  EXPECT_EQ(ReadBytes(dir / "a.dat"), Pattern(300));
  // The exclusive lock went with the handle.
  TSFSDiskFile again(dir / "a.dat", false, true);
  EXPECT_TRUE(again.Open(false));
}

TEST(DiskFile, ReopenKeepsThePosition) {
  TTempDir dir;
  TSFSDiskFile file(dir / "a.dat", false, false);
  ASSERT_TRUE(file.Open(true));
  auto data = Pattern(100);
  file.WriteBuffer(data.data(), 100);
  file.SetPosition(77);
  file.Reopen();
  EXPECT_TRUE(file.IsOpen());
  EXPECT_EQ(file.GetPosition(), 77);
  EXPECT_EQ(file.GetSize(), 100);
}

}  // namespace
}  // namespace zk
