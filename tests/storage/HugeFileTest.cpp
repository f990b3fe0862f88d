// The multi-part file: mapping, growth and shrinking, chains over small
// parts, the foreign prefix, renaming and deleting, memory mode, the volume
// rule.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "container/storage/ContainerMagic.h"
#include "container/storage/SFSHugeFile.h"
#include "platform/os/AnsiCodePage.h"
#include "platform/os/testing/FakeFileSystem.h"
#include "platform/os/testing/FakeSystemInfo.h"
#include "tests/storage/StorageTestSupport.h"

namespace zk {
namespace {

using testing::Exists;
using testing::FileSizeOf;
using testing::HeaderOf;
using testing::NextNameOf;
using testing::Pattern;
using testing::ReadBytes;
using testing::TTempDir;
using testing::WriteBytes;

constexpr int64_t GiB = int64_t{1} << 30;
constexpr int64_t Floppy = 1457664;

std::vector<uint8_t> ReadAll(TSFSHugeFile& file) {
  std::vector<uint8_t> bytes(static_cast<size_t>(file.GetSize()));
  file.SetPosition(0);
  file.ReadBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  return bytes;
}

// A new chain holding Data, starting with the container magic as a
// container's would.
void MakeChain(const AnsiString& name, int64_t partSize, std::vector<uint8_t> data) {
  if (data.size() >= ContainerMagicSize)
    std::copy(ContainerMagic.begin(), ContainerMagic.end(), data.begin());
  TSFSHugeFile file(name, false, true, false, partSize);
  ASSERT_TRUE(file.Open(true, false));
  file.WriteBuffer(data.data(), static_cast<int32_t>(data.size()));
}

std::vector<uint8_t> WithMagic(std::vector<uint8_t> data) {
  std::copy(ContainerMagic.begin(), ContainerMagic.end(), data.begin());
  return data;
}

TEST(HugeFile, PartSizeBelowTheMinimumIsRefused) {
  try {
    TSFSHugeFile file("/tmp/x.dat", false, false, false, 379);
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "File part size is too small. Minimal part size is 380");
  }
  TSFSHugeFile file("/tmp/x.dat", false, false, false, 380);
  EXPECT_EQ(file.PartDataSize(), 100);
}

TEST(HugeFile, SmallestPartsHoldOneHundredDataBytes) {
  TTempDir dir;
  const auto name = dir / "plan.dat";
  TSFSHugeFile file(name, false, true, false, 380);
  ASSERT_TRUE(file.Open(true, false));
  EXPECT_EQ(file.GetSize(), 0);
  EXPECT_EQ(FileSizeOf(name), 280);
  auto data = Pattern(250);
  file.WriteBuffer(data.data(), 250);
  EXPECT_EQ(file.PartCount(), 3);
  EXPECT_EQ(FileSizeOf(name), 380);
  EXPECT_EQ(FileSizeOf(name + "1"), 380);
  EXPECT_EQ(FileSizeOf(name + "2"), 330);
  EXPECT_EQ(ReadAll(file), data);
}

TEST(HugeFile, MapPositionSplitsTheLogicalSpace) {
  TSFSHugeFile file("/tmp/x.dat", false, false, false, 1280);
  int64_t k = -1, o = -1;
  struct Case {
    int64_t x, k, o;
  } cases[] = {{0, 0, 0},      {999, 0, 999}, {1000, 1, 0},
               {1999, 1, 999}, {2000, 2, 0},  {12345, 12, 345}};
  for (const auto& c : cases) {
    file.MapPosition(c.x, k, o);
    EXPECT_EQ(k, c.k) << c.x;
    EXPECT_EQ(o, c.o) << c.x;
  }
  // Nothing overflows at the far end of the space.
  TSFSHugeFile unlimited("/tmp/x.dat", false, false, false, MaxPartSize);
  unlimited.MapPosition(std::numeric_limits<int64_t>::max(), k, o);
  EXPECT_EQ(k, 1);
  EXPECT_EQ(o, 281);
}

TEST(HugeFile, FloppySizedPartsMakeAChain) {
  TTempDir dir;
  const auto name = dir / "plan.dat";
  const auto data = WithMagic(Pattern(3 * 1457384 + 5000));
  {
    TSFSHugeFile file(name, false, true, false, Floppy);
    ASSERT_TRUE(file.Open(true, false));
    file.WriteBuffer(data.data(), static_cast<int32_t>(data.size()));
    EXPECT_EQ(file.PartCount(), 4);
  }
  for (const char* suffix : {"", "1", "2"}) {
    EXPECT_EQ(FileSizeOf(name + suffix), Floppy) << suffix;
    EXPECT_EQ(HeaderOf(name + suffix).PartSize, Floppy);
  }
  EXPECT_EQ(FileSizeOf(name + "3"), 5000 + 280);
  EXPECT_EQ(NextNameOf(name), "plan.dat1");
  EXPECT_EQ(NextNameOf(name + "1"), "plan.dat2");
  EXPECT_EQ(NextNameOf(name + "2"), "plan.dat3");
  EXPECT_EQ(NextNameOf(name + "3"), "");
  // The part size comes from the first header, whatever the caller asks for.
  TSFSHugeFile file(name, true, false, false, -1);
  ASSERT_TRUE(file.Open(false, false));
  EXPECT_EQ(file.PartSize(), Floppy);
  EXPECT_EQ(file.GetSize(), static_cast<int64_t>(data.size()));
  EXPECT_EQ(ReadAll(file), data);
  // A read across a part boundary.
  std::vector<uint8_t> got(1000);
  file.SetPosition(1457384 - 500);
  file.ReadBuffer(got.data(), 1000);
  EXPECT_EQ(0, std::memcmp(got.data(), data.data() + 1457384 - 500, 1000));
}

TEST(HugeFile, PartNamesTakenByOtherFilesAreSkipped) {
  TTempDir dir;
  const auto name = dir / "plan.dat";
  WriteBytes(name + "1", {1, 2, 3});
  TSFSHugeFile file(name, false, true, false, 380);
  ASSERT_TRUE(file.Open(true, false));
  auto data = Pattern(150);
  file.WriteBuffer(data.data(), 150);
  EXPECT_EQ(NextNameOf(name), "plan.dat2");
  EXPECT_EQ(ReadBytes(name + "1"), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(FileSizeOf(name + "2"), 330);
  file.Close();
  ASSERT_TRUE(file.Open(false, false));
  EXPECT_EQ(ReadAll(file), data);
}

TEST(HugeFile, UnlimitedPartsOnNtfs) {
  TTempDir dir;
  os::testing::TFakeFileSystem fs;
  fs.FileSystemName = "NTFS";
  os::TScopedService<os::IFileSystem> scope(fs);
  const auto name = dir / "plan.dat";
  TSFSHugeFile file(name, false, true, false, -1);
  EXPECT_EQ(file.PartSize(), 9223372036854775806);
  ASSERT_TRUE(file.Open(true, false));
  file.SetSize(6 * GiB);
  EXPECT_EQ(file.PartCount(), 1);
  EXPECT_EQ(FileSizeOf(name), 6 * GiB + 280);
}

TEST(HugeFile, PositionsBeyondFourGiB) {
  TTempDir dir;
  const auto name = dir / "plan.dat";
  // Parts of 4 GiB - 1, as on FAT32: the data crosses a part boundary.
  const int64_t partSize = 4294967295;
  const int64_t firstData = partSize - 280;
  TSFSHugeFile file(name, false, true, false, partSize);
  ASSERT_TRUE(file.Open(true, false));
  auto magic = std::vector<uint8_t>(ContainerMagic.begin(), ContainerMagic.end());
  file.WriteBuffer(magic.data(), 8);
  const int64_t at = firstData - 3000;
  file.SetPosition(at);
  auto data = Pattern(10000, static_cast<uint64_t>(at));
  file.WriteBuffer(data.data(), 10000);  // grows sparsely up to at, then writes
  EXPECT_EQ(file.GetSize(), at + 10000);
  EXPECT_EQ(file.PartCount(), 2);
  EXPECT_EQ(FileSizeOf(name), partSize);
  EXPECT_EQ(FileSizeOf(name + "1"), 280 + 7000);
  const int64_t far = 5 * GiB + 12345;
  file.SetPosition(far);
  auto more = Pattern(4096, static_cast<uint64_t>(far));
  file.WriteBuffer(more.data(), 4096);
  EXPECT_EQ(file.GetSize(), far + 4096);
  file.Close();

  TSFSHugeFile again(name, true, false, false, -1);
  ASSERT_TRUE(again.Open(false, false));
  EXPECT_EQ(again.GetSize(), far + 4096);
  std::vector<uint8_t> got(10000);
  EXPECT_EQ(again.Seek(at, 0), at);
  again.ReadBuffer(got.data(), 10000);
  EXPECT_EQ(got, data);
  got.resize(4096);
  EXPECT_EQ(again.Seek(-4096, 2), far);
  again.ReadBuffer(got.data(), 4096);
  EXPECT_EQ(got, more);
  // A hole reads as zeros.
  again.SetPosition(far - 10);
  got.assign(10, 0xFF);
  again.ReadBuffer(got.data(), 10);
  EXPECT_EQ(got, std::vector<uint8_t>(10, 0));
  // Shrinking back below the boundary deletes the second part.
  again.Close();
  TSFSHugeFile writable(name, false, true, false, -1);
  ASSERT_TRUE(writable.Open(false, false));
  writable.SetSize(100);
  EXPECT_EQ(writable.PartCount(), 1);
  EXPECT_FALSE(Exists(name + "1"));
  EXPECT_EQ(NextNameOf(name), "");
  EXPECT_EQ(FileSizeOf(name), 380);
}

TEST(HugeFile, ForeignPrefixInTheFirstFile) {
  TTempDir dir;
  const auto name = dir / "plan.dat";
  const auto data = WithMagic(Pattern(500));
  MakeChain(name, 2000, data);
  auto bytes = Pattern(1000, 77777);
  auto chain = ReadBytes(name);
  bytes.insert(bytes.end(), chain.begin(), chain.end());
  WriteBytes(name, bytes);

  TSFSHugeFile file(name, false, true, false, -1);
  ASSERT_TRUE(file.Open(false, false));
  EXPECT_EQ(file.HeaderOffset(), 1000);
  EXPECT_EQ(file.GetSize(), 500);
  EXPECT_EQ(ReadAll(file), data);
  // Logical offset 0 is byte 1280 of the file.
  const uint8_t x[2] = {0xAB, 0xCD};
  file.SetPosition(8);
  file.WriteBuffer(x, 2);
  // The first part now carries 2000 - 280 - 1000 = 720 bytes; growing past
  // that fills it to exactly 2000 bytes, prefix included.
  file.SetSize(1000);
  EXPECT_EQ(file.PartCount(), 2);
  file.Close();
  auto raw = ReadBytes(name);
  ASSERT_EQ(raw.size(), 2000u);
  EXPECT_TRUE(std::equal(ContainerMagic.begin(), ContainerMagic.end(), raw.begin() + 1280));
  EXPECT_EQ(raw[1288], 0xAB);
  EXPECT_EQ(raw[1289], 0xCD);
  EXPECT_EQ(std::vector<uint8_t>(raw.begin(), raw.begin() + 1000), Pattern(1000, 77777));
  EXPECT_EQ(NextNameOf(name, 1000), "plan.dat1");
  EXPECT_EQ(FileSizeOf(name + "1"), 280 + 280);
  ASSERT_TRUE(file.Open(false, false));
  EXPECT_EQ(file.HeaderOffset(), 1000);
  EXPECT_EQ(file.GetSize(), 1000);
  // Deleting and renaming find the header behind the prefix too.
  ASSERT_TRUE(file.DeleteFiles() == false);  // the parts are open: refused
  file.Close();
  EXPECT_TRUE(file.RenameFile("moved.dat"));
  EXPECT_TRUE(Exists(dir / "moved.dat1"));
  EXPECT_EQ(NextNameOf(dir / "moved.dat", 1000), "moved.dat1");
  EXPECT_TRUE(file.DeleteFiles());
  EXPECT_FALSE(Exists(dir / "moved.dat"));
  EXPECT_FALSE(Exists(dir / "moved.dat1"));
}

TEST(HugeFile, ReadAtAndPastTheEnd) {
  TTempDir dir;
  const auto name = dir / "plan.dat";
  TSFSHugeFile file(name, false, true, false, 380);
  ASSERT_TRUE(file.Open(true, false));
  auto data = Pattern(150);
  file.WriteBuffer(data.data(), 150);
  std::vector<uint8_t> got(10);
  file.SetPosition(150);
  EXPECT_EQ(file.Read(got.data(), 10), 0);
  file.SetPosition(151);
  try {
    file.Read(got.data(), 10);
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "TSFSHugeFile.Read - Stream read error.");
  }
  file.SetPosition(145);
  try {
    file.ReadBuffer(got.data(), 10);
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "TSFSHugeFile.ReadBuffer - Stream read error");
  }
  try {
    file.Seek(-1, 0);
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "TSFSHugeFile.Seek - Offset < 0 from file beginning.");
  }
  // A relative seek before the start is kept but reaches no part.
  EXPECT_EQ(file.Seek(-1000, 1), 150 - 1000);  // the short read moved to 150
  EXPECT_THROW(file.Read(got.data(), 1), Exception);
  EXPECT_EQ(file.Write(got.data(), 1), 0);
  EXPECT_EQ(file.GetSize(), 150);
}

TEST(HugeFile, TheEndOfAFullLastPart) {
  TTempDir dir;
  const auto name = dir / "plan.dat";
  TSFSHugeFile file(name, false, true, false, 380);
  ASSERT_TRUE(file.Open(true, false));
  auto data = Pattern(200);
  file.WriteBuffer(data.data(), 200);
  EXPECT_EQ(file.PartCount(), 2);  // both full, no third part yet
  std::vector<uint8_t> got(100);
  // Seek and Read there touch no part, and a read that runs up to it
  // returns what it has.
  EXPECT_EQ(file.Seek(0, 2), 200);
  EXPECT_EQ(file.Read(got.data(), 100), 0);
  file.SetPosition(150);
  EXPECT_EQ(file.Read(got.data(), 100), 50);
  EXPECT_EQ(file.GetPosition(), 200);
  EXPECT_EQ(file.PartCount(), 2);
  EXPECT_FALSE(Exists(name + "2"));
  // A write there first adds the next part.
  file.SetPosition(200);
  file.WriteBuffer(data.data(), 30);
  EXPECT_EQ(file.PartCount(), 3);
  EXPECT_EQ(FileSizeOf(name + "2"), 310);
  EXPECT_EQ(NextNameOf(name + "1"), "plan.dat2");
}

TEST(HugeFile, WriteBeyondTheSizeGrowsFirst) {
  TTempDir dir;
  const auto name = dir / "plan.dat";
  TSFSHugeFile file(name, false, true, false, 380);
  ASSERT_TRUE(file.Open(true, false));
  auto data = Pattern(20);
  file.SetPosition(250);
  EXPECT_EQ(file.Write(data.data(), 20), 20);
  EXPECT_EQ(file.GetSize(), 270);
  EXPECT_EQ(file.GetPosition(), 270);
  EXPECT_EQ(file.PartCount(), 3);
  std::vector<uint8_t> all = ReadAll(file);
  EXPECT_EQ(std::vector<uint8_t>(all.begin(), all.begin() + 250), std::vector<uint8_t>(250, 0));
  EXPECT_EQ(std::vector<uint8_t>(all.begin() + 250, all.end()), data);
}

TEST(HugeFile, SetSizeAddsAndDeletesParts) {
  TTempDir dir;
  const auto name = dir / "plan.dat";
  TSFSHugeFile file(name, false, true, false, 380);
  ASSERT_TRUE(file.Open(true, false));
  file.SetPosition(3);
  // Growing to a part boundary leaves a last part with only its header.
  file.SetSize(300);
  EXPECT_EQ(file.GetPosition(), 300);
  EXPECT_EQ(file.PartCount(), 4);
  EXPECT_EQ(FileSizeOf(name + "3"), 280);
  file.SetSize(150);
  EXPECT_EQ(file.GetSize(), 150);
  EXPECT_EQ(file.GetPosition(), 150);
  EXPECT_EQ(file.PartCount(), 2);
  EXPECT_FALSE(Exists(name + "2"));
  EXPECT_FALSE(Exists(name + "3"));
  EXPECT_EQ(NextNameOf(name), "plan.dat1");
  EXPECT_EQ(NextNameOf(name + "1"), "");
  EXPECT_EQ(FileSizeOf(name + "1"), 330);
  file.SetSize(150);
  EXPECT_EQ(file.GetPosition(), 150);
  file.SetSize(0);
  EXPECT_EQ(file.PartCount(), 1);
  EXPECT_EQ(FileSizeOf(name), 280);
  EXPECT_THROW(file.SetSize(-1), Exception);
}

TEST(HugeFile, DeleteLastPartNeedsTwoParts) {
  TTempDir dir;
  TSFSHugeFile file(dir / "plan.dat", false, true, false, 380);
  ASSERT_TRUE(file.Open(true, false));
  try {
    file.DeleteLastPartFile();
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "TSFSHugeFile.DeleteLastPartFile - No parts to delete.");
  }
}

TEST(HugeFile, OpenWhileOpenOrWithPartsLeftOver) {
  TTempDir dir;
  const auto name = dir / "plan.dat";
  TSFSHugeFile file(name, false, true, false, 380);
  ASSERT_TRUE(file.Open(true, false));
  try {
    file.Open(false, false);
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "InternalOpen - \xCE\xC4\xBC\xFE\xD2\xD1\xB1\xBB\xB4\xF2\xBF\xAA.");
  }
  auto data = Pattern(150);
  file.WriteBuffer(data.data(), 150);
  file.Close();
  std::filesystem::remove(name + "1");
  // Without IgnoreBrokenChain the first part stays behind after the failure.
  EXPECT_FALSE(file.Open(false, false));
  EXPECT_FALSE(file.Opened());
  try {
    file.Open(false, true);
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "InternalOpen - File was not closed.");
  }
  file.Close();
  EXPECT_EQ(file.PartCount(), 0);
}

TEST(HugeFile, MissingSecondPart) {
  TTempDir dir;
  const auto name = dir / "plan.dat";
  const auto data = WithMagic(Pattern(150));
  MakeChain(name, 380, data);
  std::filesystem::remove(name + "1");
  {
    TSFSHugeFile file(name, true, false, false, -1);
    EXPECT_FALSE(file.Open(false, false));
  }
  TSFSHugeFile file(name, true, false, false, -1);
  ASSERT_TRUE(file.Open(false, true));
  EXPECT_EQ(file.GetSize(), 100);
  EXPECT_EQ(ReadAll(file), std::vector<uint8_t>(data.begin(), data.begin() + 100));
  // Writing past the end does not bring a new part in the place of the lost one.
  file.SetPosition(100);
  EXPECT_EQ(file.Write(data.data(), 10), 0);
  EXPECT_FALSE(Exists(name + "1"));
}

TEST(HugeFile, WritableOpenOfABrokenChainFails) {
  TTempDir dir;
  const auto name = dir / "plan.dat";
  MakeChain(name, 380, Pattern(250));
  std::filesystem::remove(name + "2");
  TSFSHugeFile file(name, false, true, false, -1);
  try {
    file.Open(false, true);
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message,
              "InternalOpen - Chain of part files is broken, it can only be opened read only. "
              "Last sound part is \"" +
                  name + "1\"");
  }
  EXPECT_FALSE(file.Opened());
  EXPECT_EQ(file.PartCount(), 0);
  EXPECT_EQ(NextNameOf(name + "1"), "plan.dat2");
  // The same object still opens it for reading after that.
  TSFSHugeFile reader(name, true, false, false, -1);
  ASSERT_TRUE(reader.Open(false, true));
  EXPECT_EQ(reader.GetSize(), 200);
}

TEST(HugeFile, RenameTheWholeChainWithinItsFolder) {
  TTempDir dir;
  const auto name = dir / "plan.dat";
  const auto data = WithMagic(Pattern(250));
  MakeChain(name, 380, data);
  // A later part whose name differs in case is renamed all the same.
  std::filesystem::rename(name + "2", dir / "PLAN.DAT2");
  {
    auto header = HeaderOf(name + "1");
    std::strcpy(header.NextPartName, "PLAN.DAT2");
    testing::PatchBytes(name + "1", 0, &header, sizeof header);
  }
  TSFSHugeFile file(name, false, true, false, -1);
  EXPECT_TRUE(file.RenameFile("/elsewhere/other\\new.dat"));
  EXPECT_EQ(file.FileName(), dir / "new.dat");
  EXPECT_FALSE(Exists(name));
  EXPECT_FALSE(Exists(name + "1"));
  EXPECT_FALSE(Exists(dir / "PLAN.DAT2"));
  EXPECT_EQ(NextNameOf(dir / "new.dat"), "new.dat1");
  EXPECT_EQ(NextNameOf(dir / "new.dat1"), "new.dat2");
  EXPECT_EQ(NextNameOf(dir / "new.dat2"), "");
  ASSERT_TRUE(file.Open(false, false));
  EXPECT_EQ(ReadAll(file), data);
}

TEST(HugeFile, RenameNeverReplacesAFile) {
  TTempDir dir;
  const auto name = dir / "plan.dat";
  MakeChain(name, 380, Pattern(150));
  WriteBytes(dir / "new.dat1", {9, 9});
  TSFSHugeFile file(name, false, true, false, -1);
  EXPECT_FALSE(file.RenameFile("new.dat"));
  // Part 0 was renamed before the failure and keeps its new name.
  EXPECT_TRUE(Exists(dir / "new.dat"));
  EXPECT_EQ(NextNameOf(dir / "new.dat"), "plan.dat1");
  EXPECT_EQ(ReadBytes(dir / "new.dat1"), (std::vector<uint8_t>{9, 9}));
  TSFSHugeFile reopened(dir / "new.dat", true, false, false, -1);
  ASSERT_TRUE(reopened.Open(false, false));
  EXPECT_EQ(reopened.GetSize(), 150);
}

TEST(HugeFile, DeleteFilesRemovesEveryPart) {
  TTempDir dir;
  const auto name = dir / "plan.dat";
  MakeChain(name, 380, Pattern(250));
  WriteBytes(name + "9", {1});
  TSFSHugeFile file(name, false, true, false, -1);
  EXPECT_TRUE(file.DeleteFiles());
  for (const char* suffix : {"", "1", "2"}) EXPECT_FALSE(Exists(name + suffix));
  EXPECT_TRUE(Exists(name + "9"));
  EXPECT_FALSE(file.DeleteFiles());
}

TEST(HugeFile, CreatingReplacesAnExistingChain) {
  TTempDir dir;
  const auto name = dir / "plan.dat";
  MakeChain(name, 380, Pattern(250));
  TSFSHugeFile file(name, false, true, false, 380);
  ASSERT_TRUE(file.Open(true, false));
  EXPECT_FALSE(Exists(name + "1"));
  EXPECT_FALSE(Exists(name + "2"));
  EXPECT_EQ(FileSizeOf(name), 280);
}

TEST(HugeFile, MemoryMode) {
  TTempDir dir;
  const auto name = dir / "mem.dat";
  auto data = Pattern(250);
  TSFSHugeFile file(name, false, true, true, 380);
  ASSERT_TRUE(file.Open(true, false));
  file.WriteBuffer(data.data(), 250);
  EXPECT_EQ(file.PartCount(), 3);
  EXPECT_FALSE(Exists(name));
  // Closing keeps the parts; opening again reuses them.
  file.Close();
  EXPECT_EQ(file.PartCount(), 3);
  ASSERT_TRUE(file.Open(false, false));
  EXPECT_EQ(file.GetSize(), 250);
  EXPECT_EQ(ReadAll(file), data);
  EXPECT_TRUE(file.RenameFile("renamed.dat"));
  EXPECT_EQ(file.Part(1).FileName(), dir / "renamed.dat1");
  EXPECT_EQ(file.Part(2).FileName(), dir / "renamed.dat2");
  file.SetSize(120);
  EXPECT_EQ(file.PartCount(), 2);
  EXPECT_EQ(ReadAll(file), std::vector<uint8_t>(data.begin(), data.begin() + 120));
  EXPECT_TRUE(file.DeleteFiles());
  EXPECT_EQ(file.PartCount(), 0);
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
  file.Close();
  try {
    file.RenameFile("x.dat");
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "TSFSHugeFile.RenameFile - No memory files exist.");
  }
}

TEST(HugeFile, MemoryModeReadsADiskChainAndWritesNothingBack) {
  TTempDir dir;
  const auto name = dir / "plan.dat";
  const auto data = WithMagic(Pattern(250));
  MakeChain(name, 380, data);
  const auto before = ReadBytes(name + "1");
  {
    TSFSHugeFile file(name, false, true, true, -1);
    ASSERT_TRUE(file.Open(false, false));
    EXPECT_EQ(file.PartCount(), 3);
    EXPECT_EQ(ReadAll(file), data);
    file.SetPosition(120);
    file.WriteBuffer(data.data(), 50);
    file.SetSize(400);
    file.Close();
  }
  EXPECT_EQ(ReadBytes(name + "1"), before);
  EXPECT_FALSE(Exists(name + "3"));
}

TEST(HugeFile, FlushAndCloseInDiskMode) {
  TTempDir dir;
  const auto name = dir / "plan.dat";
  os::testing::TFakeFileSystem fs;
  os::TScopedService<os::IFileSystem> scope(fs);
  TSFSHugeFile file(name, false, true, false, 380);
  ASSERT_TRUE(file.Open(true, false));
  auto data = Pattern(150);
  file.WriteBuffer(data.data(), 150);
  fs.Calls.clear();
  file.Flush();
  EXPECT_EQ(fs.Calls[os::testing::TFakeFileSystem::TOp::Flush], 2);
  file.Close();
  EXPECT_EQ(file.PartCount(), 0);
  EXPECT_EQ(file.GetSize(), 0);
  EXPECT_EQ(fs.Calls[os::testing::TFakeFileSystem::TOp::Close], 2);
}

TEST(VolumeRule, PartSizeByFileSystemName) {
  os::testing::TFakeFileSystem fs;
  os::testing::TFakeSystemInfo info;
  os::TScopedService<os::IFileSystem> fsScope(fs);
  os::TScopedService<os::ISystemInfo> infoScope(info);
  fs.FreeSpace = 123456789;
  struct Case {
    const char* name;
    const char* path;
    os::TOSVersion version;
    int64_t expected;
  } cases[] = {
      {"NTFS", "/data/plan.dat", {10, 0, 2}, 9223372036854775806},
      {"FAT32", "/data/plan.dat", {5, 1, 2}, 4294967295},
      {"FAT32", "/data/plan.dat", {5, 0, 2}, 4294967295},
      {"FAT32", "/data/plan.dat", {5, 2, 2}, 4294967295},
      {"FAT32", "/data/plan.dat", {4, 10, 1}, 2147483647},
      {"FAT32", "/data/plan.dat", {4, 0, 2}, 2147483647},
      {"FAT16", "/data/plan.dat", {10, 0, 2}, 2147483647},
      {"CDFS", "/data/plan.dat", {10, 0, 2}, 0},
      {"FS_UDF", "/data/plan.dat", {10, 0, 2}, 123456789},
      {"FAT", "A:\\plan.dat", {10, 0, 2}, 1457664},
      {"FAT", "B:\\docs\\plan.dat", {10, 0, 2}, 1457664},
      {"FAT", "a:\\plan.dat", {10, 0, 2}, 2147483647},
      {"FAT", "/media/floppy/plan.dat", {10, 0, 2}, 2147483647},
      {"ntfs", "/data/plan.dat", {10, 0, 2}, 0},
      {"UNKNOWN 0x9FA0", "/data/plan.dat", {10, 0, 2}, 0},
  };
  for (const auto& c : cases) {
    fs.FileSystemName = c.name;
    info.Version = c.version;
    EXPECT_EQ(GetMaxPartSize(c.path), c.expected) << c.name << " " << c.path;
  }
  // The part size of a new chain comes from the rule.
  fs.FileSystemName = "FAT";
  info.Version = {10, 0, 2};
  EXPECT_EQ(TSFSHugeFile("A:\\plan.dat", false, true, false, -1).PartSize(), 1457664);
  // A volume that cannot be asked gives 0, and a chain then 2147483647.
  fs.FileSystemName.reset();
  fs.Fault = [](auto op, const AnsiString&) {
    return op == os::testing::TFakeFileSystem::TOp::Volume ? EIO : 0;
  };
  EXPECT_EQ(GetMaxPartSize("/data/plan.dat"), 0);
  TSFSHugeFile file("/data/plan.dat", false, false, false, -1);
  EXPECT_EQ(file.PartSize(), 2147483647);
}

TEST(VolumeRule, OperatingSystemGeneration) {
  os::testing::TFakeSystemInfo info;
  os::TScopedService<os::ISystemInfo> scope(info);
  struct Case {
    os::TOSVersion version;
    int generation;
  } cases[] = {{{3, 51, 2}, 4}, {{4, 0, 1}, 1}, {{4, 0, 2}, 5}, {{4, 10, 1}, 2}, {{4, 90, 1}, 3},
               {{5, 0, 2}, 6},  {{5, 1, 2}, 7}, {{5, 2, 2}, 8}, {{6, 1, 2}, 7},  {{10, 0, 2}, 7}};
  for (const auto& c : cases) {
    info.Version = c.version;
    EXPECT_EQ(OSGeneration(), c.generation) << c.version.Major << "." << c.version.Minor;
  }
  for (os::TOSVersion bad : {os::TOSVersion{4, 3, 2}, os::TOSVersion{2, 0, 2}}) {
    info.Version = bad;
    try {
      OSGeneration();
      FAIL() << "no error";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message, "Can't Identify OS version");
    }
  }
  EXPECT_EQ(os::ISystemInfo::Default().OSVersion().Major, 10u);
}

TEST(VolumeRule, TheUsualLinuxFileSystemsGiveOnePart) {
  TTempDir dir;
  AnsiString name;
  ASSERT_TRUE(os::FileSystem().VolumeFileSystemName(dir / "plan.dat", name));
  if (name != "NTFS") GTEST_SKIP() << "the temporary folder is on " << name;
  TSFSHugeFile file(dir / "plan.dat", false, true, false, -1);
  EXPECT_EQ(file.PartSize(), MaxPartSize);
}

}  // namespace
}  // namespace zk

namespace zk {
namespace {

// Seeks, reads, writes and resizes in a fixed pseudo-random order over small
// parts, checked against a plain byte vector after every step.
void RunAgainstModel(bool inMemory) {
  TTempDir dir;
  TSFSHugeFile file(dir / "plan.dat", false, true, inMemory, 380);
  ASSERT_TRUE(file.Open(true, false));
  std::vector<uint8_t> model;
  int64_t position = 0;
  uint64_t seed = 12345;
  auto next = [&](uint64_t bound) {
    seed = seed * 6364136223846793005u + 1442695040888963407u;
    return (seed >> 33) % bound;
  };
  for (int step = 0; step < 3000; ++step) {
    switch (next(5)) {
      case 0: {  // seek somewhere, now and then past the end
        position = static_cast<int64_t>(next(model.size() + 150));
        ASSERT_EQ(file.Seek(position, 0), position);
        break;
      }
      case 1: {  // read
        if (position > static_cast<int64_t>(model.size())) break;
        std::vector<uint8_t> got(next(300));
        const int32_t n = file.Read(got.data(), static_cast<int32_t>(got.size()));
        const int64_t expected = std::min<int64_t>(static_cast<int64_t>(got.size()),
                                                   static_cast<int64_t>(model.size()) - position);
        ASSERT_EQ(n, expected) << step;
        ASSERT_TRUE(std::equal(got.begin(), got.begin() + n, model.begin() + position)) << step;
        position += n;
        break;
      }
      case 2:
      case 3: {  // write, growing when past the end
        auto data = Pattern(next(400) + 1, static_cast<uint64_t>(step) * 1000);
        ASSERT_EQ(file.Write(data.data(), static_cast<int32_t>(data.size())),
                  static_cast<int32_t>(data.size()));
        if (position + static_cast<int64_t>(data.size()) > static_cast<int64_t>(model.size()))
          model.resize(static_cast<size_t>(position) + data.size(), 0);
        std::copy(data.begin(), data.end(), model.begin() + position);
        position += static_cast<int64_t>(data.size());
        break;
      }
      case 4: {  // resize
        const auto size = static_cast<int64_t>(next(model.size() + 500));
        file.SetSize(size);
        model.resize(static_cast<size_t>(size), 0);
        position = size;
        break;
      }
    }
    ASSERT_EQ(file.GetSize(), static_cast<int64_t>(model.size())) << step;
    ASSERT_EQ(file.GetPosition(), position) << step;
    // Parts hold 100 bytes each; a size on a part boundary may or may not
    // have a header-only part after it, depending on how it was reached.
    const int64_t size = static_cast<int64_t>(model.size());
    const int64_t parts = file.PartCount();
    if (size % 100 != 0)
      ASSERT_EQ(parts, size / 100 + 1) << step;
    else
      ASSERT_TRUE(parts == std::max<int64_t>(1, size / 100) || parts == size / 100 + 1) << step;
  }
  EXPECT_EQ(ReadAll(file), model);
}

TEST(HugeFile, RandomTransfersMatchAModelOnDisk) {
  RunAgainstModel(false);
}
TEST(HugeFile, RandomTransfersMatchAModelInMemory) {
  RunAgainstModel(true);
}

}  // namespace
}  // namespace zk

namespace zk {
namespace {

TEST(HugeFile, GbkNamesWithABackslashTrailByte) {
  TTempDir dir;
  // 0x81 0x5C is one GBK character whose trail byte is a backslash.
  const AnsiString shortName = "\x81\x5Cplan.dat";
  const AnsiString name = dir.Path() + "\\" + shortName;
  auto data = Pattern(150);
  {
    TSFSHugeFile file(name, false, true, false, 380);
    ASSERT_TRUE(file.Open(true, false));
    file.WriteBuffer(data.data(), 150);
  }
  const std::string utf8 = dir / os::AnsiToUtf8(shortName);
  EXPECT_EQ(FileSizeOf(utf8), 380);
  EXPECT_EQ(NextNameOf(utf8), shortName + "1");
  TSFSHugeFile file(name, false, true, false, -1);
  ASSERT_TRUE(file.Open(false, false));
  EXPECT_EQ(ReadAll(file), data);
  file.Close();
  EXPECT_TRUE(file.RenameFile("\x81\x5Cnew.dat"));
  EXPECT_EQ(NextNameOf(dir / os::AnsiToUtf8("\x81\x5Cnew.dat")), "\x81\x5Cnew.dat1");
  EXPECT_TRUE(file.DeleteFiles());
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST(HugeFile, AnExclusiveChainKeepsOtherOpenersOut) {
  TTempDir dir;
  const auto name = dir / "plan.dat";
  TSFSHugeFile owner(name, false, true, false, 380);
  ASSERT_TRUE(owner.Open(true, false));
  auto data = Pattern(150);
  owner.WriteBuffer(data.data(), 150);
  TSFSHugeFile other(name, true, false, false, -1);
  EXPECT_FALSE(other.Open(false, true));
  EXPECT_EQ(other.PartCount(), 0);
  // Nor can the chain be replaced or deleted while it is open.
  TSFSHugeFile creator(name, false, true, false, 380);
  EXPECT_FALSE(creator.Open(true, false));
  EXPECT_EQ(FileSizeOf(name + "1"), 330);
  owner.Close();
  ASSERT_TRUE(other.Open(false, false));
  EXPECT_EQ(ReadAll(other), data);
}

}  // namespace
}  // namespace zk
