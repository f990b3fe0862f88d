// The process as the launcher sees it: its command line in the ANSI code
// page, the folder of its own executable, and starting another program.
#pragma once

#include <string>
#include <vector>

#include "platform/os/Service.h"
#include "platform/rtl/AnsiString.h"

namespace zk::os {

constexpr int SW_SHOW = 5;

class IProcess {
 public:
  virtual ~IProcess() = default;
  // The whole command line (ANSI). On POSIX: "ZKselector" and argv[1..], each
  // after one blank, converted from UTF-8.
  virtual AnsiString CommandLine() = 0;
  // The folder of the running executable, with a trailing backslash (ANSI).
  virtual AnsiString ExecutableFolder() = 0;
  // Starts ProgramPath with CommandLine (which begins with the program path
  // as the user sees it). The program is given explicitly and never searched
  // for; the arguments after it are split by the Windows command-line rules.
  // Returns false when the program could not be started. Never waits.
  virtual bool StartProgram(const AnsiString& ProgramPath, const AnsiString& CommandLine,
                            int ShowCommand) = 0;

  static IProcess& Default();
};

inline IProcess& Process() {
  return TService<IProcess>::Get();
}

// Splits the part of a command line after the program path into arguments by
// the Windows rules: blanks separate outside quotes; 2n backslashes before a
// quote give n backslashes and toggle quoting; 2n+1 give n backslashes and a
// literal quote; "" inside quotes is a literal quote; other backslashes stay.
std::vector<AnsiString> SplitArguments(std::string_view text);

// Records the command line the POSIX process reports (call once from main).
void SetProcessArguments(int argc, const char* const* argv);

}  // namespace zk::os
