// Renaming and moving directory records: the record's name and folder, both
// indexes, the page on disk, and every refusal leaving the record as it was.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/engine/EngineTestSupport.h"

namespace zk {
namespace {

using testing::TEngine;
using testing::TTempDir;

class DirectoryMove : public ::testing::Test {
 protected:
  void SetUp() override {
    Path = Dir / "m.sfs";
    E = TEngine::Create(Path);
    ASSERT_TRUE(D().ForceDirectories("\\a\\b\\c"));
    ASSERT_TRUE(D().CreateDir("\\x"));
    File = E.WriteFile("\\a\\f.txt", testing::Pattern(5000, 1));
    ASSERT_GE(File, 0);
  }
  TDIRManager& D() { return *E.Dir; }
  int32_t Item(const char* P) { return D().FindItem(P); }

  TTempDir Dir;
  std::string Path;
  TEngine E;
  int32_t File = -1;
};

TEST_F(DirectoryMove, RenameInPlaceKeepsContentsAndFindsTheNewName) {
  ASSERT_TRUE(D().MoveItem(File, Item("\\a"), "g.txt"));
  EXPECT_LT(Item("\\a\\f.txt"), -1);
  EXPECT_EQ(Item("\\a\\g.txt"), File);
  EXPECT_EQ(E.ReadFile("\\a\\g.txt"), testing::Pattern(5000, 1));
  // Written through: a fresh load finds the new name too.
  E.Close();
  E = TEngine::Open(Path);
  EXPECT_EQ(D().FindItem("\\a\\g.txt"), File);
  EXPECT_EQ(E.ReadFile("\\a\\g.txt"), testing::Pattern(5000, 1));
}

TEST_F(DirectoryMove, MoveToAnotherFolderAndTheRoot) {
  const int32_t b = Item("\\a\\b");
  ASSERT_TRUE(D().MoveItem(b, Item("\\x"), "b2"));
  EXPECT_EQ(Item("\\x\\b2\\c"), D().Items().FindChild(b, "c"));
  EXPECT_EQ(D().GetItemPath(Item("\\x\\b2\\c")), "\\x\\b2\\c");
  ASSERT_TRUE(D().MoveItem(File, -1, "top.txt"));
  EXPECT_EQ(Item("\\top.txt"), File);
  EXPECT_FALSE(D().Items().HasChildren(Item("\\a")));
}

TEST_F(DirectoryMove, ChangeOfCaseOnlyIsAllowed) {
  ASSERT_TRUE(D().MoveItem(File, Item("\\a"), "F.TXT"));
  TDIRItem rec;
  D().ReadItem(File, rec);
  EXPECT_STREQ(rec.FileName, "F.TXT");
}

TEST_F(DirectoryMove, Refusals) {
  const int32_t a = Item("\\a");
  const int32_t c = Item("\\a\\b\\c");
  const std::string tooLong(260, 'n');
  struct TCase {
    int32_t ItemNo, Parent;
    const char* Name;
    int32_t Code;
  };
  const TCase cases[] = {
      {File, -1, "x", dirMoveTargetExists},  // a folder of that name (any case)
      {File, -1, "X", dirMoveTargetExists}, {a, a, "a", dirMoveIntoItself},  // into itself
      {a, c, "a", dirMoveIntoItself},                                        // below itself
      {File, File, "f", dirMoveInvalid},                                     // a file is no folder
      {File, -1, "", dirMoveInvalid},       {File, -1, "..", dirMoveInvalid},
      {File, -1, "a\\b", dirMoveInvalid},   {File, -1, tooLong.c_str(), dirMoveInvalid},
      {-1, -1, "root", dirMoveInvalid},     {99, -1, "none", dirMoveInvalid},
      {File, 99, "f", dirMoveInvalid},
  };
  for (const TCase& k : cases) {
    SCOPED_TRACE(k.Name);
    TDIRItem before{};
    if (k.ItemNo >= 0 && k.ItemNo < D().Items().ItemCount()) D().ReadItem(k.ItemNo, before);
    EXPECT_FALSE(D().MoveItem(k.ItemNo, k.Parent, k.Name));
    EXPECT_EQ(D().LastError, k.Code);
    if (k.ItemNo >= 0 && k.ItemNo < D().Items().ItemCount()) {
      TDIRItem after;
      D().ReadItem(k.ItemNo, after);
      EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
    }
  }
  EXPECT_EQ(Item("\\a\\f.txt"), File);
}

TEST_F(DirectoryMove, DeletedItemCannotMove) {
  TDIRItem rec;
  D().ReadItem(File, rec);
  rec.Deleted = 1;
  D().WriteItem(File, rec);
  EXPECT_FALSE(D().MoveItem(File, -1, "back"));
  EXPECT_EQ(D().LastError, dirMoveInvalid);
}

TEST_F(DirectoryMove, CurrentFolderPathFollows) {
  ASSERT_TRUE(D().ChangeDir("\\a\\b"));
  ASSERT_TRUE(D().MoveItem(Item("\\a"), Item("\\x"), "moved"));
  EXPECT_EQ(D().GetCurrentDir(), "\\x\\moved\\b");
  EXPECT_EQ(D().FindItem("c"), Item("\\x\\moved\\b\\c"));
}

TEST_F(DirectoryMove, ParentLoopInDamagedRecordsCountsAsBelow) {
  // \x names \a\b\c as its folder while \a\b\c lies below \a: moving \a
  // into \x would close a loop, and a loop is refused like "below itself".
  const int32_t x = Item("\\x");
  TDIRItem rec;
  D().ReadItem(x, rec);
  rec.ParentID = Item("\\a\\b\\c");
  D().WriteItem(x, rec);
  EXPECT_FALSE(D().MoveItem(Item("\\a"), x, "a"));
  EXPECT_EQ(D().LastError, dirMoveIntoItself);
}

}  // namespace
}  // namespace zk
