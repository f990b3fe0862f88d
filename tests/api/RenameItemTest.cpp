// RenameItem of the container object: files and folders renamed and moved
// by path, and the refusals (open item, target taken, into itself, bad
// paths, read-only container).
#include <gtest/gtest.h>

#include "container/api/SFSUserFileStream.h"
#include "container/api/SingleFileSystem.h"
#include "tests/api/ContainerTestSupport.h"

namespace zk {
namespace {

using testing::TContainerDir;

class RenameItem : public ::testing::Test {
 protected:
  void SetUp() override {
    Name = Dir / "r.sfs";
    Fs = TSingleFileSystem::Create(Name, ModeCreate);
    ASSERT_TRUE(Fs->ForceDirectories("\\a\\b"));
    ASSERT_TRUE(Fs->ForceDirectories("\\x"));
    Write("\\a\\f.txt", "contents");
  }
  void Write(const AnsiString& Path, const std::string& Text) {
    TSFSUserFileStream s(Fs.get(), Path, ModeCreate);
    ASSERT_EQ(s.Write(Text.data(), static_cast<int32_t>(Text.size())),
              static_cast<int32_t>(Text.size()));
  }
  std::string Read(const AnsiString& Path) {
    TSFSUserFileStream s(Fs.get(), Path, ModeReadOnly);
    std::string text(static_cast<size_t>(s.Seek(0, 2)), '\0');
    s.Seek(0, 0);
    s.Read(text.data(), static_cast<int32_t>(text.size()));
    return text;
  }

  TContainerDir Dir;
  std::string Name;
  std::unique_ptr<TSingleFileSystem> Fs;
};

TEST_F(RenameItem, FileRenamedAndMoved) {
  ASSERT_TRUE(Fs->RenameItem("\\a\\f.txt", "\\a\\g.txt"));
  EXPECT_FALSE(Fs->FileExists("\\a\\f.txt"));
  EXPECT_EQ(Read("\\a\\g.txt"), "contents");
  ASSERT_TRUE(Fs->RenameItem("/a/g.txt", "/x/h.txt"));
  EXPECT_EQ(Read("\\x\\h.txt"), "contents");
  // Relative paths start at the current folder.
  ASSERT_TRUE(Fs->ChangeDir("\\x"));
  ASSERT_TRUE(Fs->RenameItem("h.txt", "i.txt"));
  EXPECT_EQ(Read("\\x\\i.txt"), "contents");
  Fs.reset();
  Fs = TSingleFileSystem::Create(Name, ModeReadWrite);
  EXPECT_EQ(Read("\\x\\i.txt"), "contents");
}

TEST_F(RenameItem, FolderMovesWithEverythingInIt) {
  ASSERT_TRUE(Fs->RenameItem("\\a", "\\x\\a2"));
  EXPECT_TRUE(Fs->DirectoryExists("\\x\\a2\\b"));
  EXPECT_EQ(Read("\\x\\a2\\f.txt"), "contents");
  EXPECT_FALSE(Fs->FileExists("\\a"));
}

TEST_F(RenameItem, Refusals) {
  Write("\\x\\taken.txt", "other");
  struct TCase {
    const char* From;
    const char* To;
    int32_t Code;
  } const cases[] = {
      {"\\a\\f.txt", "\\x\\taken.txt", sfsTargetExists},
      {"\\a\\f.txt", "\\X", sfsTargetExists},
      {"\\a", "\\a\\b\\a", sfsMoveIntoItself},
      {"\\a", "\\a\\a", sfsMoveIntoItself},
      {"\\missing", "\\y", sfsBadRename},
      {"\\", "\\y", sfsBadRename},
      {"\\a\\f.txt", "\\nowhere\\f.txt", sfsBadRename},
      {"\\a\\f.txt", "\\a\\f.txt\\g", sfsBadRename},
  };
  for (const TCase& k : cases) {
    SCOPED_TRACE(std::string(k.From) + " -> " + k.To);
    EXPECT_FALSE(Fs->RenameItem(k.From, k.To));
    EXPECT_EQ(Fs->LastError, k.Code);
  }
  EXPECT_EQ(Read("\\a\\f.txt"), "contents");
  EXPECT_EQ(Read("\\x\\taken.txt"), "other");
}

TEST_F(RenameItem, OpenFileIsRefused) {
  TSFSUserFileStream open(Fs.get(), "\\a\\f.txt", ModeReadOnly);
  EXPECT_FALSE(Fs->RenameItem("\\a\\f.txt", "\\a\\g.txt"));
  EXPECT_EQ(Fs->LastError, sfsFileInUse);
}

TEST_F(RenameItem, ReadOnlyContainerIsRefused) {
  Fs.reset();
  Fs = TSingleFileSystem::CreateEx(Name, ModeReadOnly, false, "", "", "", 0, 4096, 8, -1);
  const auto before = testing::FileBytes(Name);
  EXPECT_FALSE(Fs->RenameItem("\\a\\f.txt", "\\a\\g.txt"));
  EXPECT_EQ(Fs->LastError, sfsBadRename);
  EXPECT_EQ(testing::FileBytes(Name), before);
}

}  // namespace
}  // namespace zk
