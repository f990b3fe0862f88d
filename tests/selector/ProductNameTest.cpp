#include "selector/ProductName.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "container/api/BuiltInKeys.h"
#include "container/api/FileStream.h"
#include "container/api/SingleFileSystem.h"
#include "platform/os/AnsiCodePage.h"

namespace zk {
namespace {

class ProductNameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(ZK_TEST_TMPDIR);
    std::string pattern = std::string(ZK_TEST_TMPDIR) + "/selector-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    Dir = pattern;
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(Dir, ec);
  }
  // A document keyed with the current built-in password; Profile goes into
  // Folder\PROFILE.INI unless it is empty.
  std::string Make(const AnsiString& Folder, const AnsiString& Profile) {
    std::string path = Dir + "/doc" + std::to_string(++Count);
    auto fs = Tv9FileSystem::Create(path, ModeCreate, GetCurrentBuiltInPassword());
    EXPECT_TRUE(fs->ForceDirectories(Folder));
    EXPECT_TRUE(fs->ChangeDir(Folder));
    if (!Profile.empty()) {
      Tv9Stream out(fs.get(), "PROFILE.INI", ModeCreate, 2);
      out.WriteBuffer(Profile.data(), static_cast<int32_t>(Profile.size()));
    }
    return path;
  }

  std::string Dir;
  int Count = 0;
};

TEST_F(ProductNameTest, ReadsProductNameOfFileInfoInFolderGC) {
  const AnsiString name = os::Utf8ToAnsi("计价软件 2016");
  EXPECT_EQ(ReadProductName(Make("GC", "[FILEINFO]\r\nProductName = " + name + " \r\n")), name);
  EXPECT_EQ(ReadProductName(Make("GC", "[Other]\r\nProductName=x\r\n")), "");
  EXPECT_EQ(ReadProductName(Make("GC", "")), "");
  // Another folder than GC: the root's profile would be read, and there is none.
  EXPECT_EQ(ReadProductName(Make("DATA", "[FILEINFO]\r\nProductName=x\r\n")), "");
}

TEST_F(ProductNameTest, AMissingDocumentRaises) {
  EXPECT_THROW(ReadProductName(Dir + "/none"), Exception);
  EXPECT_FALSE(std::filesystem::exists(Dir + "/none"));
}

}  // namespace
}  // namespace zk
