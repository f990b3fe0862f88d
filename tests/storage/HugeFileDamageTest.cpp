// The multi-part file over damaged or hostile part files, and over a store
// that fails: broken chains end where the damage is, files that are not parts
// are never renamed, rewritten or deleted, and failures are reported.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <functional>
#include <limits>
#include <vector>

#include "container/storage/ContainerMagic.h"
#include "container/storage/SFSHugeFile.h"
#include "platform/os/testing/FakeFileSystem.h"
#include "tests/storage/StorageTestSupport.h"

namespace zk {
namespace {

using testing::Exists;
using testing::FileSizeOf;
using testing::HeaderOf;
using testing::NextNameOf;
using testing::PatchBytes;
using testing::Pattern;
using testing::ReadBytes;
using testing::TTempDir;
using testing::WriteBytes;
using TOp = os::testing::TFakeFileSystem::TOp;

// A chain of three parts of 380 bytes holding 250 bytes: 100, 100 and 50
// data bytes in plan.dat, plan.dat1 and plan.dat2.
std::vector<uint8_t> MakeThreeParts(const std::string& name) {
  auto data = Pattern(250);
  std::copy(ContainerMagic.begin(), ContainerMagic.end(), data.begin());
  TSFSHugeFile file(name, false, true, false, 380);
  EXPECT_TRUE(file.Open(true, false));
  file.WriteBuffer(data.data(), 250);
  return data;
}

void SetPartSize(const std::string& path, int64_t value) {
  PatchBytes(path, 8, &value, 8);
}

void SetNextName(const std::string& path, const std::string& name) {
  char field[PartNameFieldSize] = {};
  std::memcpy(field, name.data(), std::min(name.size(), sizeof field));
  PatchBytes(path, 16, field, sizeof field);
}

void Resize(const std::string& path, int64_t size) {
  std::filesystem::resize_file(path, static_cast<uintmax_t>(size));
}

// The logical size a read-only open that accepts a broken chain gives, or -1
// when the open fails. A plain open of a damaged chain always fails.
int64_t SizeOfBrokenOpen(const std::string& name) {
  {
    TSFSHugeFile strict(name, true, false, false, -1);
    EXPECT_FALSE(strict.Open(false, false));
  }
  TSFSHugeFile file(name, true, false, false, -1);
  if (!file.Open(false, true)) {
    EXPECT_EQ(file.PartCount(), 0);
    return -1;
  }
  // All of it reads.
  std::vector<uint8_t> bytes(static_cast<size_t>(file.GetSize()) + 10);
  EXPECT_EQ(file.Read(bytes.data(), static_cast<int32_t>(bytes.size())), file.GetSize());
  return file.GetSize();
}

struct TDamage {
  const char* what;
  std::function<void(const std::string& name)> damage;
  int64_t size;  // -1: the first part is refused (corrupted header)
};

class BrokenChain : public ::testing::TestWithParam<TDamage> {};

TEST_P(BrokenChain, EndsAtTheDamagedPart) {
  TTempDir dir;
  const auto name = dir / "plan.dat";
  MakeThreeParts(name);
  GetParam().damage(name);
  EXPECT_EQ(SizeOfBrokenOpen(name), GetParam().size);
}

const TDamage Damages[] = {
    {"first part size 379", [](const std::string& n) { SetPartSize(n, 379); }, -1},
    {"first part size 0", [](const std::string& n) { SetPartSize(n, 0); }, -1},
    {"first part size -1", [](const std::string& n) { SetPartSize(n, -1); }, -1},
    {"first part size max",
     [](const std::string& n) { SetPartSize(n, std::numeric_limits<int64_t>::max()); }, -1},
    {"first part size min",
     [](const std::string& n) { SetPartSize(n, std::numeric_limits<int64_t>::min()); }, -1},
    {"second part size 379", [](const std::string& n) { SetPartSize(n + "1", 379); }, 100},
    {"second part size max",
     [](const std::string& n) { SetPartSize(n + "1", std::numeric_limits<int64_t>::max()); }, 100},
    {"first name without NUL", [](const std::string& n) { SetNextName(n, std::string(261, 'a')); },
     -1},
    {"second name without NUL",
     [](const std::string& n) { SetNextName(n + "1", std::string(261, 'a')); }, 100},
    {"first part names itself", [](const std::string& n) { SetNextName(n, "plan.dat"); }, 100},
    {"second part names the first", [](const std::string& n) { SetNextName(n + "1", "plan.dat"); },
     200},
    {"second part names itself in capitals",
     [](const std::string& n) { SetNextName(n + "1", "PLAN.DAT1"); }, 200},
    {"name leaves the folder", [](const std::string& n) { SetNextName(n + "1", "../plan.dat2"); },
     200},
    {"name with a backslash", [](const std::string& n) { SetNextName(n + "1", "sub\\plan.dat2"); },
     200},
    {"name of the parent", [](const std::string& n) { SetNextName(n + "1", ".."); }, 200},
    {"second signature", [](const std::string& n) { PatchBytes(n + "1", 5, "\x21", 1); }, 100},
    {"last part without a whole header", [](const std::string& n) { Resize(n + "2", 279); }, 200},
    {"short middle part", [](const std::string& n) { Resize(n + "1", 300); }, 120},
    {"long middle part", [](const std::string& n) { Resize(n + "1", 400); }, 100},
    {"long last part", [](const std::string& n) { Resize(n + "2", 381); }, 200},
    {"long single part",
     [](const std::string& n) {
       SetNextName(n, "");
       Resize(n, 381);
     },
     -1},
    {"missing middle part", [](const std::string& n) { std::filesystem::remove(n + "1"); }, 100},
    {"folder for a part",
     [](const std::string& n) {
       std::filesystem::remove(n + "2");
       std::filesystem::create_directory(n + "2");
     },
     200},
    {"pipe for a part",
     [](const std::string& n) {
       std::filesystem::remove(n + "2");
       ::mkfifo((n + "2").c_str(), 0600);
     },
     200},
    {"header offset beyond the part size",
     [](const std::string& n) {
       auto bytes = Pattern(1000);
       auto part = ReadBytes(n);
       bytes.insert(bytes.end(), part.begin(), part.end());
       WriteBytes(n, bytes);
     },
     -1},
};

INSTANTIATE_TEST_SUITE_P(Damage, BrokenChain, ::testing::ValuesIn(Damages), [](const auto& param) {
  std::string s;
  for (const char* p = param.param.what; *p; ++p)
    s += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
  return s;
});

TEST(HugeFileDamage, DeleteStopsAtAFileThatIsNoPart) {
  TTempDir dir;
  const auto name = dir / "plan.dat";
  MakeThreeParts(name);
  WriteBytes(dir / "victim.txt", Pattern(500));
  SetNextName(name + "1", "victim.txt");
  TSFSHugeFile file(name, false, true, false, -1);
  EXPECT_FALSE(file.DeleteFiles());
  EXPECT_FALSE(Exists(name));
  EXPECT_FALSE(Exists(name + "1"));
  EXPECT_EQ(ReadBytes(dir / "victim.txt"), Pattern(500));
}

TEST(HugeFileDamage, CreatingOverAnUnrelatedFileDeletesNothingElse) {
  TTempDir dir;
  const auto name = dir / "plan.dat";
  // Read as a part header, this file would name victim.txt.
  auto junk = Pattern(600);
  std::memcpy(junk.data() + 16, "victim.txt", 11);
  WriteBytes(name, junk);
  WriteBytes(dir / "victim.txt", Pattern(50));
  TSFSHugeFile file(name, false, true, false, 380);
  ASSERT_TRUE(file.Open(true, false));
  EXPECT_EQ(FileSizeOf(name), 280);
  EXPECT_EQ(ReadBytes(dir / "victim.txt"), Pattern(50));
}

TEST(HugeFileDamage, RenameAfterABrokenChainOpenLeavesForeignFilesAlone) {
  TTempDir dir;
  const auto name = dir / "plan.dat";
  MakeThreeParts(name);
  WriteBytes(dir / "plan.dat.txt", Pattern(300));
  SetNextName(name + "1", "plan.dat.txt");
  TSFSHugeFile file(name, true, false, false, -1);
  ASSERT_TRUE(file.Open(false, true));
  EXPECT_EQ(file.GetSize(), 200);
  file.Close();
  EXPECT_FALSE(file.RenameFile("new.dat"));
  EXPECT_TRUE(Exists(dir / "new.dat"));
  EXPECT_TRUE(Exists(dir / "new.dat1"));
  EXPECT_EQ(NextNameOf(dir / "new.dat1"), "plan.dat.txt");
  EXPECT_EQ(ReadBytes(dir / "plan.dat.txt"), Pattern(300));
  EXPECT_FALSE(Exists(dir / "new.dat.txt"));
}

TEST(HugeFileDamage, RenameOfAFileThatIsNoPartDoesNothing) {
  TTempDir dir;
  const auto name = dir / "plan.dat";
  WriteBytes(name, Pattern(400));
  TSFSHugeFile file(name, false, true, false, -1);
  EXPECT_FALSE(file.RenameFile("new.dat"));
  EXPECT_EQ(ReadBytes(name), Pattern(400));
  EXPECT_FALSE(Exists(dir / "new.dat"));
  EXPECT_FALSE(file.DeleteFiles());
  EXPECT_TRUE(Exists(name));
}

TEST(HugeFileDamage, APartThatCannotBeCreatedFailsTheGrowth) {
  TTempDir dir;
  const auto name = dir / "plan.dat";
  os::testing::TFakeFileSystem fs;
  fs.Fault = [&](TOp op, const AnsiString& path) {
    return op == TOp::Create && path == name + "1" ? ENOSPC : 0;
  };
  os::TScopedService<os::IFileSystem> scope(fs);
  TSFSHugeFile file(name, false, true, false, 380);
  ASSERT_TRUE(file.Open(true, false));
  file.SetSize(150);
  EXPECT_EQ(file.GetSize(), 100);
  EXPECT_EQ(file.GetPosition(), 100);
  EXPECT_EQ(file.PartCount(), 1);
  EXPECT_FALSE(Exists(name + "1"));
  EXPECT_EQ(NextNameOf(name), "");
  auto data = Pattern(10);
  EXPECT_EQ(file.Write(data.data(), 10), 0);
  file.SetPosition(95);
  EXPECT_EQ(file.Write(data.data(), 10), 5);
  EXPECT_EQ(file.GetSize(), 100);
  try {
    file.WriteBuffer(data.data(), 10);
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "TSFSHugeFile.WriteBuffer - Stream write error");
  }
  file.SetPosition(300);
  EXPECT_EQ(file.Write(data.data(), 10), 0);
  EXPECT_EQ(file.GetSize(), 100);
}

TEST(HugeFileDamage, AFailedLinkRemovesTheNewPart) {
  for (const bool failPrevious : {true, false}) {
    TTempDir dir;
    const auto name = dir / "plan.dat";
    os::testing::TFakeFileSystem fs;
    bool armed = false;
    const auto target = failPrevious ? name : name + "1";
    fs.Fault = [&](TOp op, const AnsiString& path) {
      return armed && op == TOp::Write && path == target ? EIO : 0;
    };
    os::TScopedService<os::IFileSystem> scope(fs);
    TSFSHugeFile file(name, false, true, false, 380);
    ASSERT_TRUE(file.Open(true, false));
    auto data = Pattern(100);
    file.WriteBuffer(data.data(), 100);
    armed = true;
    file.SetSize(150);
    EXPECT_EQ(file.PartCount(), 1) << failPrevious;
    EXPECT_EQ(file.GetSize(), 100);
    EXPECT_FALSE(Exists(name + "1"));
    armed = false;
    file.Close();
    EXPECT_EQ(NextNameOf(name), "");
    ASSERT_TRUE(file.Open(false, false));
    EXPECT_EQ(file.GetSize(), 100);
  }
}

TEST(HugeFileDamage, AFullDiskStopsTheGrowthWithTheSystemError) {
  TTempDir dir;
  const auto name = dir / "plan.dat";
  os::testing::TFakeFileSystem fs;
  fs.SizeLimit = 2000;
  os::TScopedService<os::IFileSystem> scope(fs);
  TSFSHugeFile file(name, false, true, false, MaxPartSize);
  ASSERT_TRUE(file.Open(true, false));
  file.SetSize(1000);
  try {
    file.SetSize(5000);
    FAIL() << "no error";
  } catch (const EOSError& e) {
    EXPECT_EQ(e.ErrorCode, ENOSPC);
  }
  EXPECT_EQ(file.GetSize(), 1000);
  EXPECT_EQ(file.GetPosition(), 1000);
  // A write that runs into the limit is short, past it nothing.
  auto data = Pattern(1000);
  file.SetPosition(1800);
  EXPECT_EQ(file.Write(data.data(), 1000), 0);
  EXPECT_EQ(file.GetSize(), 1000);
  file.SetPosition(1000);
  EXPECT_EQ(file.Write(data.data(), 1000), 720);
  EXPECT_EQ(file.GetSize(), 1720);
  EXPECT_EQ(file.GetPosition(), 1720);
}

TEST(HugeFileDamage, AFailedPartTransferIsAShortTransfer) {
  TTempDir dir;
  const auto name = dir / "plan.dat";
  const auto data = MakeThreeParts(name);
  os::testing::TFakeFileSystem fs;
  TOp failing = TOp::Close;  // nothing fails while opening
  fs.Fault = [&](TOp op, const AnsiString& path) {
    return op == failing && path == name + "1" ? EIO : 0;
  };
  os::TScopedService<os::IFileSystem> scope(fs);
  TSFSHugeFile file(name, false, true, false, -1);
  ASSERT_TRUE(file.Open(false, false));
  failing = TOp::Read;
  std::vector<uint8_t> got(250);
  EXPECT_EQ(file.Read(got.data(), 250), 100);
  EXPECT_EQ(file.GetPosition(), 100);
  EXPECT_EQ(0, std::memcmp(got.data(), data.data(), 100));
  failing = TOp::Write;
  file.SetPosition(50);
  EXPECT_EQ(file.Write(got.data(), 100), 50);
  EXPECT_EQ(file.GetPosition(), 100);
  EXPECT_EQ(file.GetSize(), 250);
}

TEST(HugeFileDamage, AFirstPartThatCannotBeReadIsNoChain) {
  TTempDir dir;
  const auto name = dir / "plan.dat";
  MakeThreeParts(name);
  os::testing::TFakeFileSystem fs;
  fs.Fault = [&](TOp op, const AnsiString& path) {
    return op == TOp::Read && path == name ? EIO : 0;
  };
  os::TScopedService<os::IFileSystem> scope(fs);
  TSFSHugeFile file(name, true, false, false, -1);
  EXPECT_FALSE(file.Open(false, true));
  EXPECT_EQ(file.PartCount(), 0);
}

TEST(HugeFileDamage, NamesThatDoNotFitInTheHeader) {
  TTempDir dir;
  // In memory the long names never reach the disk.
  const std::string longName(260, 'a');
  TSFSHugeFile file(dir / longName, false, true, true, 380);
  ASSERT_TRUE(file.Open(true, false));
  auto data = Pattern(150);
  EXPECT_EQ(file.Write(data.data(), 150), 100);
  EXPECT_EQ(file.PartCount(), 1);

  TSFSHugeFile chain(dir / "m.dat", false, true, true, 380);
  ASSERT_TRUE(chain.Open(true, false));
  chain.WriteBuffer(data.data(), 150);
  EXPECT_FALSE(chain.RenameFile(std::string(260, 'b')));
  EXPECT_EQ(chain.Part(1).FileName(), dir / "m.dat1");

  TSFSHugeFile fits(dir / "m.dat", false, true, true, 380);
  ASSERT_TRUE(fits.Open(true, false));
  fits.WriteBuffer(data.data(), 150);
  EXPECT_TRUE(fits.RenameFile(std::string(259, 'b')));
  EXPECT_EQ(fits.Part(1).FileName(), dir / (std::string(259, 'b') + "1"));
}

TEST(HugeFileDamage, ExtremePositionsNeitherOverflowNorGrow) {
  TTempDir dir;
  const auto name = dir / "plan.dat";
  {
    TSFSHugeFile file(name, false, true, false, MaxPartSize);
    ASSERT_TRUE(file.Open(true, false));
    auto data = Pattern(100);
    std::copy(ContainerMagic.begin(), ContainerMagic.end(), data.begin());
    file.WriteBuffer(data.data(), 100);
  }
  auto bytes = Pattern(1000);
  auto part = ReadBytes(name);
  bytes.insert(bytes.end(), part.begin(), part.end());
  WriteBytes(name, bytes);
  TSFSHugeFile file(name, false, true, false, -1);
  ASSERT_TRUE(file.Open(false, false));
  ASSERT_EQ(file.HeaderOffset(), 1000);
  const int64_t max = std::numeric_limits<int64_t>::max();
  uint8_t byte = 1;
  EXPECT_EQ(file.Seek(max, 0), max);
  EXPECT_EQ(file.Seek(max, 1), max);
  EXPECT_THROW(file.Read(&byte, 1), Exception);
  EXPECT_EQ(file.Write(&byte, 1), 0);
  EXPECT_EQ(file.GetSize(), 100);
  EXPECT_EQ(file.Seek(-max, 2), 100 - max);
  EXPECT_EQ(file.Seek(-max, 1), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(file.Write(&byte, 1), 0);
  EXPECT_EQ(FileSizeOf(name), 1380);
}

}  // namespace
}  // namespace zk
