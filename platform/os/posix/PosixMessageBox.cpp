// The message box on POSIX: caption and text on stderr in UTF-8, CR LF shown
// as LF and other control characters as "?"; with a display and an installed
// dialog tool, also a dialog.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/os/AnsiCodePage.h"
#include "platform/os/MessageBox.h"

extern char** environ;

namespace zk::os {

namespace {

std::string ToTerminal(const AnsiString& text) {
  std::string utf8;
  if (!TryAnsiToUtf8(text, utf8)) utf8 = text;  // show the bytes rather than nothing
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n') continue;
    // Texts can carry names from a document: a control character (an escape
    // sequence, a lone CR) must not steer the terminal.
    const bool control = (c < 0x20 && c != '\n' && c != '\t') || c == 0x7F;
    out.push_back(control ? '?' : utf8[i]);
  }
  return out;
}

bool OnPath(const std::string& tool) {
  const char* path = std::getenv("PATH");
  if (!path) return false;
  std::string all = path;
  size_t start = 0;
  while (start <= all.size()) {
    size_t end = all.find(':', start);
    if (end == std::string::npos) end = all.size();
    std::string candidate = all.substr(start, end - start) + "/" + tool;
    if (access(candidate.c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

// Shows a dialog when a display is set and a dialog tool exists; waits for it.
void ShowDialog(const std::string& caption, const std::string& text) {
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((!display || !*display) && (!wayland || !*wayland)) return;
  std::vector<std::string> args;
  if (OnPath("zenity")) {
    args = {"zenity", "--error", "--title=" + caption, "--text=" + text, "--no-markup"};
  } else if (OnPath("kdialog")) {
    args = {"kdialog", "--title", caption, "--error", text};
  } else if (OnPath("xmessage")) {
    args = {"xmessage", "-center", "-title", caption, text};
  } else {
    return;
  }
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
  }
}

class TPosixMessageBox final : public IMessageBox {
 public:
  void Show(const AnsiString& Text, const AnsiString& Caption, unsigned) override {
    std::string caption = ToTerminal(Caption), text = ToTerminal(Text);
    std::fprintf(stderr, "%s\n%s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
    ShowDialog(caption, text);
  }
  void ShowUnhandledError(const AnsiString& Message) override {
    std::string text = "ZKselector: " + ToTerminal(Message);
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
    ShowDialog("ZKselector", text);
  }
};

}  // namespace

IMessageBox& IMessageBox::Default() {
  static TPosixMessageBox box;
  return box;
}

}  // namespace zk::os
