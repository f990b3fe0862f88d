// Test doubles of the launcher's OS interfaces: a fixed command line and
// folder with a recording program starter, a capturing message box and an
// in-memory registry.
#pragma once

#include <set>
#include <vector>

#include "platform/os/AnsiCodePage.h"
#include "platform/os/FileQuery.h"
#include "platform/os/MessageBox.h"
#include "platform/os/Process.h"
#include "platform/os/Registry.h"

namespace zk::os::testing {

class TFakeProcess : public IProcess {
 public:
  struct TStart {
    AnsiString ProgramPath, CommandLine;
    int ShowCommand;
  };
  AnsiString Line = "ZKselector";
  AnsiString Folder = "\\opt\\zk\\";
  bool StartSucceeds = true;
  std::vector<TStart> Starts;

  AnsiString CommandLine() override { return Line; }
  AnsiString ExecutableFolder() override { return Folder; }
  bool StartProgram(const AnsiString& ProgramPath, const AnsiString& CommandLine,
                    int ShowCommand) override {
    Starts.push_back({ProgramPath, CommandLine, ShowCommand});
    return StartSucceeds;
  }
};

class TFakeMessageBox : public IMessageBox {
 public:
  struct TBox {
    AnsiString Text, Caption;
    unsigned Flags;
  };
  std::vector<TBox> Boxes;
  std::vector<AnsiString> Unhandled;

  void Show(const AnsiString& Text, const AnsiString& Caption, unsigned Flags) override {
    Boxes.push_back({Text, Caption, Flags});
  }
  void ShowUnhandledError(const AnsiString& Message) override { Unhandled.push_back(Message); }
};

// Files and folders by ANSI path. WideOnly files are seen only by the wide
// attribute query (as a path the ordinary test misses).
class TFakeFileQuery : public IFileQuery {
 public:
  std::set<AnsiString> Files, Folders, WideOnly;
  std::vector<std::u16string> WideQueries;

  bool FileExists(const AnsiString& Path) override { return Files.count(Path) != 0; }
  std::optional<uint32_t> GetFileAttributesWide(const std::u16string& Path) override {
    WideQueries.push_back(Path);
    for (const auto* set : {&Files, &WideOnly})
      for (const AnsiString& f : *set)
        if (AnsiToUtf16(f) == Path) return FILE_ATTRIBUTE_NORMAL;
    for (const AnsiString& f : Folders)
      if (AnsiToUtf16(f) == Path) return FILE_ATTRIBUTE_DIRECTORY;
    return std::nullopt;
  }
};

// An in-memory classes root, filled from regedit export text.
class TFakeRegistry : public TLayeredRegistry {};

}  // namespace zk::os::testing
