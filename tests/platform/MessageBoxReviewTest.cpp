// The POSIX message box writes texts that may come from a document (a
// product name, a file name in an error) to the terminal: control characters
// must not reach it as they are.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/os/MessageBox.h"

namespace zk::os {
namespace {

class MessageBoxTerminalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // No dialog tool is started.
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
      if (const char* v = std::getenv(name)) FSaved.emplace_back(name, v);
      unsetenv(name);
    }
  }
  void TearDown() override {
    for (const auto& [name, value] : FSaved) setenv(name.c_str(), value.c_str(), 1);
  }
  std::vector<std::pair<std::string, std::string>> FSaved;
};

TEST_F(MessageBoxTerminalTest, ShowsLinesAndNeutralisesControlCharacters) {
  ::testing::internal::CaptureStderr();
  IMessageBox::Default().Show(
      "a\r\nb\x1B]0;x\x07"
      "c\rd\x7F"
      "e\tf",
      "\xCC\xE1\xCA\xBE", MB_ICONERROR);
  const std::string out = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(out, "\xE6\x8F\x90\xE7\xA4\xBA\na\nb?]0;x?c?d?e\tf\n");
}

TEST_F(MessageBoxTerminalTest, UnhandledErrorsToo) {
  ::testing::internal::CaptureStderr();
  IMessageBox::Default().ShowUnhandledError("bad \"\x1B[2J\"");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "ZKselector: bad \"?[2J\"\n");
}

}  // namespace
}  // namespace zk::os
