// The POSIX file system: GBK paths, creation modes, sharing locks, renaming
// without replacing, deleting, the volume questions and the system errors.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/os/FileSystem.h"
#include "tests/support/TempDir.h"

namespace zk::os {
namespace {

class FileSystemTest : public ::testing::Test {
 protected:
  std::string In(const std::string& name) const { return Dir + "/" + name; }
  void Put(const std::string& name, const std::string& text) const {
    std::ofstream(In(name), std::ios::binary) << text;
  }
  std::string Get(const std::string& name) const {
    std::ifstream in(In(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  IFileSystem& Fs = IFileSystem::Default();
  zk::testing::TTempDir Temp{"zk-fs"};
  std::string Dir = Temp.Path();
};

TEST_F(FileSystemTest, GbkPathsBecomeUtf8AndBackslashesSeparate) {
  std::filesystem::create_directory(In("sub"));
  // "计价" in GBK.
  const AnsiString gbk = Dir + "\\sub\\\xBC\xC6\xBC\xDB.dat";
  TFileHandle h =
      Fs.Open(gbk, TFileAccess::ReadWrite, TFileShare::Exclusive, TFileCreation::CreateNew);
  ASSERT_NE(h, InvalidFileHandle);
  EXPECT_EQ(Fs.Write(h, "abc", 3), 3);
  EXPECT_TRUE(Fs.Close(h));
  EXPECT_EQ(Get("sub/计价.dat"), "abc");
  EXPECT_TRUE(Fs.FileExists(gbk));
  // A GBK lead byte with an invalid trail is no path.
  EXPECT_FALSE(Fs.FileExists(In("\x81\x20")));
  EXPECT_EQ(Fs.Open(In("\xFF"), TFileAccess::Read, TFileShare::ShareReadWrite,
                    TFileCreation::CreateAlways),
            InvalidFileHandle);
  EXPECT_EQ(Fs.LastError(), EILSEQ);
}

TEST_F(FileSystemTest, CreationModes) {
  Put("a", "hello");
  auto open = [&](TFileCreation creation, TFileAccess access = TFileAccess::ReadWrite) {
    return Fs.Open(In("a"), access, TFileShare::ShareReadWrite, creation);
  };
  TFileHandle h = open(TFileCreation::CreateNew);
  EXPECT_EQ(h, InvalidFileHandle);
  EXPECT_EQ(Fs.LastError(), EEXIST);
  h = open(TFileCreation::OpenAlways);
  ASSERT_NE(h, InvalidFileHandle);
  EXPECT_EQ(Fs.Seek(h, 0, 2), 5);
  Fs.Close(h);
  // Truncation works with read access alone too.
  h = open(TFileCreation::CreateAlways, TFileAccess::Read);
  ASSERT_NE(h, InvalidFileHandle);
  EXPECT_EQ(Fs.Seek(h, 0, 2), 0);
  EXPECT_EQ(Fs.Write(h, "x", 1), -1);
  Fs.Close(h);
  std::filesystem::remove(In("a"));
  EXPECT_EQ(open(TFileCreation::OpenExisting), InvalidFileHandle);
  EXPECT_EQ(Fs.LastError(), ENOENT);
}

TEST_F(FileSystemTest, OnlyRegularFilesOpen) {
  std::filesystem::create_directory(In("folder"));
  ASSERT_EQ(::mkfifo(In("pipe").c_str(), 0600), 0);
  EXPECT_EQ(Fs.Open(In("folder"), TFileAccess::Read, TFileShare::ShareReadWrite,
                    TFileCreation::OpenExisting),
            InvalidFileHandle);
  EXPECT_EQ(Fs.LastError(), EISDIR);
  EXPECT_EQ(Fs.Open(In("pipe"), TFileAccess::Read, TFileShare::ShareReadWrite,
                    TFileCreation::OpenExisting),
            InvalidFileHandle);
  EXPECT_FALSE(Fs.FileExists(In("folder")));
  EXPECT_FALSE(Fs.FileExists(In("pipe")));
  EXPECT_FALSE(Fs.Delete(In("folder")));
  EXPECT_EQ(Fs.LastError(), EISDIR);
}

TEST_F(FileSystemTest, SeekReadWriteAndEndOfFile) {
  TFileHandle h = Fs.Open(In("a"), TFileAccess::ReadWrite, TFileShare::Exclusive,
                          TFileCreation::CreateAlways, fhRandomAccess);
  ASSERT_NE(h, InvalidFileHandle);
  const int64_t far = int64_t{6} << 30;
  EXPECT_EQ(Fs.Seek(h, far, 0), far);
  EXPECT_EQ(Fs.Write(h, "xyz", 3), 3);
  EXPECT_EQ(Fs.Seek(h, 0, 2), far + 3);
  EXPECT_EQ(Fs.Seek(h, -2, 1), far + 1);
  char buffer[8] = {};
  EXPECT_EQ(Fs.Read(h, buffer, 8), 2);
  EXPECT_EQ(std::string(buffer, 2), "yz");
  EXPECT_EQ(Fs.Seek(h, -1, 0), -1);
  EXPECT_EQ(Fs.LastError(), EINVAL);
  EXPECT_EQ(Fs.Seek(h, 0, 3), -1);
  EXPECT_EQ(Fs.Seek(h, 10, 0), 10);
  EXPECT_TRUE(Fs.SetEndOfFile(h));
  EXPECT_EQ(Fs.Seek(h, 0, 2), 10);
  EXPECT_TRUE(Fs.Flush(h));
  EXPECT_TRUE(Fs.Close(h));
  EXPECT_EQ(Fs.Read(-5, buffer, 1), -1);
  EXPECT_EQ(Fs.LastError(), EBADF);
}

TEST_F(FileSystemTest, SharingLocks) {
  Put("a", "data");
  auto open = [&](TFileShare share) {
    return Fs.Open(In("a"), TFileAccess::Read, share, TFileCreation::OpenExisting);
  };
  TFileHandle shared1 = open(TFileShare::ShareReadWrite);
  TFileHandle shared2 = open(TFileShare::ShareReadWrite);
  ASSERT_NE(shared1, InvalidFileHandle);
  ASSERT_NE(shared2, InvalidFileHandle);
  EXPECT_EQ(open(TFileShare::Exclusive), InvalidFileHandle);
  EXPECT_EQ(Fs.LastError(), EBUSY);
  Fs.Close(shared1);
  Fs.Close(shared2);
  TFileHandle exclusive = open(TFileShare::Exclusive);
  ASSERT_NE(exclusive, InvalidFileHandle);
  EXPECT_EQ(open(TFileShare::ShareReadWrite), InvalidFileHandle);
  // Truncation waits for the lock: a refused create leaves the bytes.
  EXPECT_EQ(Fs.Open(In("a"), TFileAccess::ReadWrite, TFileShare::ShareReadWrite,
                    TFileCreation::CreateAlways),
            InvalidFileHandle);
  EXPECT_EQ(Get("a"), "data");
  // An open file is neither renamed nor deleted.
  EXPECT_FALSE(Fs.Rename(In("a"), In("b")));
  EXPECT_EQ(Fs.LastError(), EBUSY);
  EXPECT_FALSE(Fs.Delete(In("a")));
  EXPECT_EQ(Fs.LastError(), EBUSY);
  Fs.Close(exclusive);
  EXPECT_TRUE(Fs.Rename(In("a"), In("b")));
  EXPECT_TRUE(Fs.Delete(In("b")));
  EXPECT_FALSE(Fs.FileExists(In("b")));
}

TEST_F(FileSystemTest, RenameNeverReplaces) {
  Put("a", "one");
  Put("b", "two");
  EXPECT_FALSE(Fs.Rename(In("a"), In("b")));
  EXPECT_EQ(Fs.LastError(), EEXIST);
  EXPECT_EQ(Get("b"), "two");
  EXPECT_TRUE(Fs.Rename(In("a"), In("c")));
  EXPECT_EQ(Get("c"), "one");
  EXPECT_FALSE(Fs.Rename(In("missing"), In("d")));
  EXPECT_EQ(Fs.LastError(), ENOENT);
}

TEST_F(FileSystemTest, VolumeQuestions) {
  AnsiString ofDir, ofMissing, ofBare;
  ASSERT_TRUE(Fs.VolumeFileSystemName(Dir, ofDir));
  // A path that does not exist yet belongs to its nearest existing folder.
  ASSERT_TRUE(Fs.VolumeFileSystemName(In("no/such/file.dat"), ofMissing));
  ASSERT_TRUE(Fs.VolumeFileSystemName("plan.dat", ofBare));
  EXPECT_EQ(ofMissing, ofDir);
  EXPECT_FALSE(ofDir.empty());
  AnsiString proc;
  ASSERT_TRUE(Fs.VolumeFileSystemName("/proc/self", proc));
  EXPECT_EQ(proc.rfind("UNKNOWN ", 0), 0u) << proc;
  EXPECT_GT(Fs.VolumeFreeSpace(In("no/such/file.dat")), 0);
}

TEST(OSError, CodeAndSystemText) {
  EOSError e = MakeOSError(ENOSPC);
  EXPECT_EQ(e.ErrorCode, ENOSPC);
  EXPECT_EQ(e.Message, "No space left on device");
  EXPECT_FALSE(MakeOSError(123456).Message.empty());
}

}  // namespace
}  // namespace zk::os
