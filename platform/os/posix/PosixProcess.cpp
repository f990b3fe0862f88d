// The process on POSIX: the command line from argv (converted to GBK), the
// executable's folder from /proc/self/exe, and programs started detached
// with posix_spawn.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <mutex>
#include <string>
#include <vector>

#include "platform/os/AnsiCodePage.h"
#include "platform/os/Process.h"
#include "platform/rtl/Exception.h"

extern char** environ;

namespace zk::os {

namespace {

std::mutex gArgsLock;
std::vector<std::string> gArgs;  // argv[1..] in UTF-8

// A GBK path to the file system's form: UTF-8 with '/' separators.
std::string HostPath(const AnsiString& path) {
  std::string utf8 = AnsiToUtf8(path);
  for (char& c : utf8)
    if (c == '\\') c = '/';
  return utf8;
}

class TPosixProcess final : public IProcess {
 public:
  AnsiString CommandLine() override {
    std::lock_guard<std::mutex> lock(gArgsLock);
    AnsiString line = "ZKselector";
    for (const std::string& arg : gArgs) {
      line += ' ';
      line += Utf8ToAnsi(arg);
    }
    return line;
  }

  AnsiString ExecutableFolder() override {
    std::string buffer(PATH_MAX, '\0');
    ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0) return AnsiString("\\");
    buffer.resize(static_cast<size_t>(n));
    size_t slash = buffer.rfind('/');
    std::string folder = slash == std::string::npos ? std::string() : buffer.substr(0, slash);
    AnsiString ansi = Utf8ToAnsi(folder);
    for (char& c : ansi)
      if (c == '/') c = '\\';
    return ansi + "\\";
  }

  bool StartProgram(const AnsiString& ProgramPath, const AnsiString& Line, int) override {
    // The arguments are what follows the program's own path on the line.
    std::vector<std::string> argv8;
    try {
      argv8.push_back(HostPath(ProgramPath));
      std::vector<AnsiString> words;
      if (Line.compare(0, ProgramPath.size(), ProgramPath) == 0) {
        words = SplitArguments(std::string_view(Line).substr(ProgramPath.size()));
      } else {
        words = SplitArguments(Line);
        if (!words.empty()) words.erase(words.begin());
      }
      for (const AnsiString& w : words) argv8.push_back(AnsiToUtf8(w));
    } catch (const Exception&) {
      return false;
    }
    std::vector<char*> argv;
    for (std::string& a : argv8) argv.push_back(a.data());
    argv.push_back(nullptr);
    // A double spawn through a short-lived shell would detach fully; a direct
    // spawn is enough here since the launcher ends right after the start and
    // the child is then adopted by init.
    pid_t pid = 0;
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    int rc = posix_spawn(&pid, argv8[0].c_str(), nullptr, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    return rc == 0;
  }
};

}  // namespace

void SetProcessArguments(int argc, const char* const* argv) {
  std::lock_guard<std::mutex> lock(gArgsLock);
  gArgs.clear();
  for (int i = 1; i < argc; ++i) gArgs.emplace_back(argv[i] ? argv[i] : "");
}

IProcess& IProcess::Default() {
  static TPosixProcess process;
  return process;
}

}  // namespace zk::os
