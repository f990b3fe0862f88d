// The registry files of the POSIX classes root as read from disk: their size
// and kind are not trusted.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/os/Registry.h"

namespace zk::os {
namespace {

namespace fs = std::filesystem;

// A scratch XDG_CONFIG_HOME holding ZKselector/registry.reg, restored after.
class RegistryFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("XDG_CONFIG_HOME");
    if (old) FOld = old, FHadOld = true;
    FRoot = fs::temp_directory_path() / ("zk-registry-" + std::to_string(getpid()));
    fs::create_directories(FRoot / "ZKselector");
    setenv("XDG_CONFIG_HOME", FRoot.c_str(), 1);
  }
  void TearDown() override {
    if (FHadOld) {
      setenv("XDG_CONFIG_HOME", FOld.c_str(), 1);
    } else {
      unsetenv("XDG_CONFIG_HOME");
    }
    std::error_code ec;
    fs::remove_all(FRoot, ec);
  }
  fs::path File() const { return FRoot / "ZKselector" / "registry.reg"; }

  fs::path FRoot;
  std::string FOld;
  bool FHadOld = false;
};

TEST_F(RegistryFileTest, ReadsTheUsersFile) {
  std::ofstream(File(), std::ios::binary)
      << "Windows Registry Editor Version 5.00\r\n[HKEY_CLASSES_ROOT\\K]\r\n@=\"v\"\r\n";
  auto key = IRegistry::Default().OpenClassesRootKey("k");
  ASSERT_TRUE(key);
  EXPECT_EQ(ReadRegistryString(*key, ""), "v");
}

TEST_F(RegistryFileTest, AnOversizedFileRaisesInsteadOfBeingReadWhole) {
  {
    std::ofstream out(File(), std::ios::binary);
    out << "Windows Registry Editor Version 5.00\r\n";
  }
  // A sparse file far larger than any export of the classes root.
  ASSERT_EQ(truncate(File().c_str(), int64_t(1) << 33), 0);
  EXPECT_THROW(IRegistry::Default().OpenClassesRootKey("k"), ERegistryException);
}

TEST_F(RegistryFileTest, AFileThatIsNoRegularFileCountsAsAbsent) {
  // A FIFO would block a plain open; a device would never end.
  ASSERT_EQ(mkfifo(File().c_str(), 0600), 0);
  EXPECT_FALSE(IRegistry::Default().OpenClassesRootKey("k"));
  fs::remove(File());
  fs::create_symlink("/dev/zero", File());
  EXPECT_FALSE(IRegistry::Default().OpenClassesRootKey("k"));
}

}  // namespace
}  // namespace zk::os
