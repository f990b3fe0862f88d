// The multi-part and memory files on paths where a failure or an extreme
// value must not move data, destroy files or reach past the memory: a growth
// that fails keeps the position, a read-only creation touches nothing, a
// header that cannot be put in its place is not written elsewhere, memory
// stores refuse sizes they can never hold, and a memory open does not load a
// file it is going to refuse.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <vector>

#include "container/storage/ContainerMagic.h"
#include "container/storage/SFSHugeFile.h"
#include "container/storage/SFSMemoryFile.h"
#include "platform/os/testing/FakeFileSystem.h"
#include "platform/rtl/Exception.h"
#include "tests/storage/StorageTestSupport.h"

namespace zk {
namespace {

using testing::Exists;
using testing::FileSizeOf;
using testing::Pattern;
using testing::ReadBytes;
using testing::TTempDir;
using testing::WriteBytes;
using TOp = os::testing::TFakeFileSystem::TOp;

// Three parts of 380 bytes holding 250 bytes (100, 100 and 50).
std::vector<uint8_t> MakeThreeParts(const std::string& name) {
  auto data = Pattern(250);
  std::copy(ContainerMagic.begin(), ContainerMagic.end(), data.begin());
  TSFSHugeFile file(name, false, true, false, 380);
  EXPECT_TRUE(file.Open(true, false));
  file.WriteBuffer(data.data(), 250);
  return data;
}

TEST(HugeFileReview, AGrowthThatFailsKeepsThePosition) {
  TTempDir dir;
  const auto name = dir / "plan.dat";
  os::testing::TFakeFileSystem fs;
  fs.SizeLimit = 2000;
  os::TScopedService<os::IFileSystem> scope(fs);
  TSFSHugeFile file(name, false, true, false, MaxPartSize);
  ASSERT_TRUE(file.Open(true, false));
  file.SetSize(1000);
  const auto data = Pattern(100);
  file.SetPosition(1800);
  EXPECT_EQ(file.Write(data.data(), 100), 0);
  EXPECT_EQ(file.GetSize(), 1000);
  EXPECT_EQ(file.GetPosition(), 1800);
  // The bytes meant for 1800 never land anywhere else.
  EXPECT_EQ(file.Write(data.data(), 100), 0);
  EXPECT_EQ(file.GetSize(), 1000);
  EXPECT_EQ(FileSizeOf(name), 1280);
}

TEST(HugeFileReview, AReadOnlyCreationLeavesTheExistingChain) {
  TTempDir dir;
  const auto name = dir / "plan.dat";
  const auto data = MakeThreeParts(name);
  const auto first = ReadBytes(name);
  {
    TSFSHugeFile file(name, true, false, false, 380);
    EXPECT_FALSE(file.Open(true, false));
    EXPECT_EQ(file.PartCount(), 0);
  }
  EXPECT_EQ(ReadBytes(name), first);
  EXPECT_TRUE(Exists(name + "1"));
  EXPECT_TRUE(Exists(name + "2"));
  TSFSHugeFile file(name, true, false, false, -1);
  ASSERT_TRUE(file.Open(false, false));
  EXPECT_EQ(file.GetSize(), 250);
}

TEST(HugeFileReview, AHeaderThatCannotBePlacedIsNotWrittenIntoTheData) {
  TTempDir dir;
  const auto name = dir / "plan.dat";
  MakeThreeParts(name);
  const auto first = ReadBytes(name);
  os::testing::TFakeFileSystem fs;
  bool armed = false;
  fs.Fault = [&](TOp op, const AnsiString& path) {
    return armed && op == TOp::Seek && path == name ? EIO : 0;
  };
  os::TScopedService<os::IFileSystem> scope(fs);
  {
    TSFSHugeFile file(name, false, true, false, -1);
    ASSERT_TRUE(file.Open(false, false));
    // Leaves the first part's file position inside its data.
    uint8_t bytes[10];
    file.SetPosition(20);
    file.ReadBuffer(bytes, 10);
    armed = true;
    EXPECT_THROW(file.SetSize(50), Exception);
    armed = false;
  }
  EXPECT_EQ(ReadBytes(name), first);
}

TEST(MemoryFileReview, SizesAndPositionsBeyondMemoryAreRefused) {
  const int64_t max = std::numeric_limits<int64_t>::max();
  TSFSMemoryFile file("m", false, false);
  ASSERT_TRUE(file.Open(true));
  EXPECT_THROW(file.SetSize(MaxPartSize), Exception);
  EXPECT_THROW(file.SetSize(max), Exception);
  EXPECT_EQ(file.GetSize(), 0);
  uint8_t byte = 7;
  EXPECT_EQ(file.Seek(max, 0), max);
  EXPECT_EQ(file.Write(&byte, 1), 0);
  EXPECT_EQ(file.Seek(1, 1), -1);
  EXPECT_EQ(file.Seek(max, 0), max);
  EXPECT_EQ(file.Seek(max, 2), max);
  EXPECT_EQ(file.GetSize(), 0);
  // Still usable.
  EXPECT_EQ(file.Seek(0, 0), 0);
  EXPECT_EQ(file.Write(&byte, 1), 1);
  EXPECT_EQ(file.GetSize(), 1);
}

TEST(HugeFileReview, AnInMemoryChainDoesNotGrowBeyondMemory) {
  TTempDir dir;
  TSFSHugeFile file(dir / "m.dat", false, true, true, MaxPartSize);
  ASSERT_TRUE(file.Open(true, false));
  uint8_t byte = 1;
  file.SetPosition(MaxPartSize - PartHeaderSize + 5);
  EXPECT_EQ(file.Write(&byte, 1), 0);
  EXPECT_EQ(file.GetSize(), 0);
  EXPECT_THROW(file.SetSize(MaxPartSize), Exception);
  EXPECT_EQ(file.GetSize(), 0);
  file.SetPosition(0);
  EXPECT_EQ(file.Write(&byte, 1), 1);
  EXPECT_EQ(file.GetSize(), 1);
}

TEST(HugeFileReview, AnInMemoryOpenLoadsNoFileItRefuses) {
  struct TCase {
    const char* what;
    bool header;  // the stray file starts with a sound part header
  };
  for (const TCase& c : {TCase{"foreign file", false}, TCase{"overlong part", true}}) {
    TTempDir dir;
    const auto name = dir / "plan.dat";
    MakeThreeParts(name);
    auto stray = Pattern(4 << 20);
    if (c.header) {
      const auto part = ReadBytes(name + "2");
      std::copy(part.begin(), part.begin() + PartHeaderSize, stray.begin());
    }
    WriteBytes(name + "2", stray);
    os::testing::TFakeFileSystem fs;
    int strayReads = 0;
    fs.Fault = [&](TOp op, const AnsiString& path) {
      if (op == TOp::Read && path == name + "2") ++strayReads;
      return 0;
    };
    os::TScopedService<os::IFileSystem> scope(fs);
    TSFSHugeFile file(name, true, false, true, -1);
    ASSERT_TRUE(file.Open(false, true)) << c.what;
    EXPECT_EQ(file.GetSize(), 200) << c.what;
    EXPECT_EQ(file.PartCount(), 2) << c.what;
    EXPECT_LE(strayReads, 2) << c.what;
  }
}

}  // namespace
}  // namespace zk
