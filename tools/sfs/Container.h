// How the sfs tool opens a container and finds its way in it. A container is
// opened with the password the user gave (-p/--password, --password-file);
// without one, an unencrypted container opens without a password and an
// encrypted one with whichever built-in password its password block accepts,
// in the command's own mode, so nothing is re-keyed or encrypted as a side
// effect. Reading commands open in mode 0 and never write.
//
// TContainerTree is a snapshot of the directory as a tree (children sorted by
// name), built in one pass and walked without recursion, so that a damaged
// directory (a folder naming itself, loops of parents) cannot trap a walk.
// It owns only its lists of item numbers.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "container/api/SingleFileSystem.h"
#include "platform/rtl/AnsiString.h"
#include "tools/sfs/CommandLine.h"
#include "tools/sfs/ToolText.h"

namespace zk {
class TDIRArray;
struct TDIRItem;
}  // namespace zk

namespace zk::sfs {

// The options every command that opens a container accepts.
std::vector<TOptionDef> OpenOptionSpecs();

// How a container was keyed when it was opened.
enum class TKeyKind { None, Password, CurrentBuiltIn, LegacyBuiltIn };
const char* KeyKindName(TKeyKind Kind);

struct TOpenedContainer {
  std::unique_ptr<TSingleFileSystem> FileSystem;
  TKeyKind Key = TKeyKind::None;
  AnsiString FileName;  // the container's file name (GBK)
};

// The password given on the line (--password, or the first line of
// --password-file), converted to GBK; Given is false when there is none.
struct TPasswordArgument {
  bool Given = false;
  AnsiString Password;
};
TPasswordArgument ReadPasswordArgument(const TParsedLine& Line);

// Opens the container at DocPath (UTF-8 host path) for reading (mode 0) or
// writing (read-write, exclusive). Raises the engine's errors ("File '...'
// not found", a corrupted header, a refused password) and ESfsError when an
// encrypted container needs a password nobody gave.
TOpenedContainer OpenContainerFile(const std::string& DocPath, bool Write,
                                   const TPasswordArgument& Password);

// The GBK name of a host path for the engine.
AnsiString HostPathToAnsi(const std::string& HostPath);

// Whether the user can be asked for a password (standard input and standard
// error are terminals).
bool CanPrompt();
// Asks for a password on the terminal; false when cancelled.
bool PromptPassword(const std::string& Caption, AnsiString& Password);
// Makes the container ask for file passwords on the terminal when it can,
// and otherwise refuse at once instead of waiting for input.
void InstallPasswordQuery(TSingleFileSystem& FileSystem);

// Item -1 is the root; NoItem means "not found".
inline constexpr int32_t NoItem = -2;

// The item that Path names: -1 for the root, its number, or NoItem. Every
// folder on the way must be a folder.
int32_t FindItem(const TSingleFileSystem& FileSystem, const TContainerPath& Path);
// The record of item ItemNo (ItemNo >= 0).
const TDIRItem& ItemRecord(const TSingleFileSystem& FileSystem, int32_t ItemNo);
bool IsFolder(const TSingleFileSystem& FileSystem, int32_t ItemNo);
// The path of a live item as the tool shows it ("/a/b").
std::string DisplayItemPath(const TSingleFileSystem& FileSystem, int32_t ItemNo);

class TContainerTree {
 public:
  explicit TContainerTree(const TDIRArray& Items);

  // The live items directly in Folder (-1: the root), sorted by name.
  const std::vector<int32_t>& Children(int32_t Folder) const;
  // Folder (a folder or a file) and everything below it, parents before
  // children, in name order; Visit gets the item and its depth below Folder.
  void Walk(int32_t Folder, const std::function<void(int32_t ItemNo, int Depth)>& Visit) const;
  // Live items that no walk from the root reaches (their folder is missing,
  // deleted or a loop).
  std::vector<int32_t> Unreachable() const;

 private:
  const TDIRArray& FItems;
  std::unordered_map<int32_t, std::vector<int32_t>> FChildren;
  std::vector<int32_t> FNone;
};

// Makes every missing folder of Path (which must not be the root's parent);
// raises ESfsError when an item on the way is a file or a folder cannot be
// made. Returns the item number of the last folder (-1 for the root).
int32_t MakeFolders(TSingleFileSystem& FileSystem, const TContainerPath& Path);

// A name in folder Parent that no item has: Prefix followed by random hex.
AnsiString UniqueName(const TSingleFileSystem& FileSystem, int32_t Parent,
                      const AnsiString& Prefix);

// "no space left" and the like for a LastError code of the container.
std::string ErrorCodeText(int32_t Code);

}  // namespace zk::sfs
