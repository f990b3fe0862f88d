#include "tools/sfs/Container.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>

#include "container/api/BuiltInKeys.h"
#include "container/engine/DIRManager.h"
#include "container/engine/SFSStrFunc.h"
#include "platform/os/PasswordPrompt.h"
#include "tools/sfs/Progress.h"

namespace zk::sfs {

std::vector<TOptionDef> OpenOptionSpecs() {
  return {
      {'p', "password", true, "P", "the container's password"},
      {0, "password-file", true, "F", "read the container's password from the first line of F"},
  };
}

const char* KeyKindName(TKeyKind Kind) {
  switch (Kind) {
    case TKeyKind::None:
      return "none";
    case TKeyKind::Password:
      return "own password";
    case TKeyKind::CurrentBuiltIn:
      return "built-in (current)";
    case TKeyKind::LegacyBuiltIn:
      return "built-in (legacy)";
  }
  return "none";
}

TPasswordArgument ReadPasswordArgument(const TParsedLine& Line) {
  TPasswordArgument result;
  if (Line.Has("password") && Line.Has("password-file"))
    throw EUsageError("give either --password or --password-file, not both");
  if (Line.Has("password")) {
    result.Given = true;
    result.Password = ToAnsi(Line.Value("password"), "the password");
  } else if (Line.Has("password-file")) {
    const std::string file = Line.Value("password-file");
    std::ifstream in(file, std::ios::binary);
    if (!in) {
      throw ESfsError("cannot read the password file " + Quoted(file) + ": " +
                      std::strerror(errno));
    }
    std::string text;
    std::getline(in, text);
    if (!text.empty() && text.back() == '\r') text.pop_back();
    result.Given = true;
    result.Password = ToAnsi(text, "the password");
  }
  return result;
}

AnsiString HostPathToAnsi(const std::string& HostPath) {
  return ToAnsi(HostPath, "the host path");
}

bool CanPrompt() {
  return IsTerminal(stdin) && IsTerminal(stderr);
}

bool PromptPassword(const std::string& Caption, AnsiString& Password) {
  AnsiString caption = ToAnsi(Caption, "the prompt");
  AnsiString entered;
  if (!os::PasswordPrompt().Query(caption, "Enter password: ", entered)) return false;
  Password = entered;
  return true;
}

void InstallPasswordQuery(TSingleFileSystem& FileSystem) {
  FileSystem.OnPassword = [](TSingleFileSystem&, const AnsiString& FileName, AnsiString& Password,
                             bool& Cancel) {
    Cancel = true;
    if (!CanPrompt()) return;
    const std::string caption = "Password for " + Quoted(DisplayEnginePath(FileName));
    Cancel = !PromptPassword(caption, Password);
  };
}

TOpenedContainer OpenContainerFile(const std::string& DocPath, bool Write,
                                   const TPasswordArgument& Password) {
  TOpenedContainer result;
  result.FileName = HostPathToAnsi(DocPath);
  const uint16_t mode = Write ? uint16_t(ModeReadWrite | ModeExclusive) : ModeReadOnly;
  auto open = [&](const AnsiString& Key, TKeyKind Kind) {
    // CreateEx tests the password before it opens and adds no mode bits.
    result.FileSystem =
        TSingleFileSystem::CreateEx(result.FileName, mode, false, Key, {}, {}, 0, 4096, 8, -1);
    result.Key = result.FileSystem->IsEncrypted() ? Kind : TKeyKind::None;
    InstallPasswordQuery(*result.FileSystem);
    return std::move(result);
  };

  if (Password.Given && !Password.Password.empty())
    return open(Password.Password, TKeyKind::Password);
  if (!IsFileEncrypted(result.FileName)) return open({}, TKeyKind::None);

  // Encrypted and no password given: the built-in passwords of project
  // documents, each tested first; never CreateBuiltIn, which re-keys.
  const AnsiString current = GetCurrentBuiltInPassword();
  if (CheckPassword(result.FileName, current)) return open(current, TKeyKind::CurrentBuiltIn);
  const AnsiString legacy = GetLegacyBuiltInPassword();
  if (CheckPassword(result.FileName, legacy)) return open(legacy, TKeyKind::LegacyBuiltIn);

  if (CanPrompt()) {
    for (int attempt = 0; attempt < 3; ++attempt) {
      AnsiString entered;
      if (!PromptPassword("Password for " + Quoted(DocPath), entered)) break;
      if (CheckPassword(result.FileName, entered)) return open(entered, TKeyKind::Password);
      std::fprintf(stderr, "sfs: wrong password\n");
    }
  }
  throw ESfsError(DocPath +
                  ": the container is encrypted with a password of its own; give it with "
                  "--password or --password-file");
}

// --- Items ---

const TDIRItem& ItemRecord(const TSingleFileSystem& FileSystem, int32_t ItemNo) {
  return FileSystem.DIRManager().Items().Record(ItemNo);
}

bool IsFolder(const TSingleFileSystem& FileSystem, int32_t ItemNo) {
  return ItemNo == -1 || ItemRecord(FileSystem, ItemNo).IsDirectory != 0;
}

int32_t FindItem(const TSingleFileSystem& FileSystem, const TContainerPath& Path) {
  const TDIRArray& items = FileSystem.DIRManager().Items();
  int32_t current = -1;
  for (const AnsiString& name : Path.Names) {
    if (!IsFolder(FileSystem, current)) return NoItem;
    current = items.FindChild(current, name.c_str());
    if (current < 0) return NoItem;
  }
  return current;
}

std::string DisplayItemPath(const TSingleFileSystem& FileSystem, int32_t ItemNo) {
  return DisplayEnginePath(FileSystem.DIRManager().GetItemPath(ItemNo));
}

TContainerTree::TContainerTree(const TDIRArray& Items) : FItems(Items) {
  const int32_t count = Items.ItemCount();
  for (int32_t i = 0; i < count; ++i) {
    const TDIRItem& item = Items.Record(i);
    if (item.Deleted != 0 || item.ParentID == i) continue;
    FChildren[item.ParentID].push_back(i);
  }
  for (auto& [parent, list] : FChildren) {
    std::sort(list.begin(), list.end(), [&](int32_t a, int32_t b) {
      const int order = CompareNames(Items.Record(a).FileName, Items.Record(b).FileName);
      return order != 0 ? order < 0 : a < b;
    });
  }
}

const std::vector<int32_t>& TContainerTree::Children(int32_t Folder) const {
  auto it = FChildren.find(Folder);
  return it == FChildren.end() ? FNone : it->second;
}

void TContainerTree::Walk(int32_t Folder,
                          const std::function<void(int32_t ItemNo, int Depth)>& Visit) const {
  // Every live item has one parent, so a walk from one item meets each item
  // below it once; the seen set guards against records that break that.
  std::vector<std::pair<int32_t, int>> stack;
  std::vector<bool> seen(static_cast<size_t>(FItems.ItemCount()), false);
  if (Folder >= 0) {
    seen[static_cast<size_t>(Folder)] = true;
    Visit(Folder, 0);
  }
  auto pushChildren = [&](int32_t Parent, int Depth) {
    if (Parent >= 0 && FItems.Record(Parent).IsDirectory == 0) return;
    const std::vector<int32_t>& children = Children(Parent);
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
      if (seen[static_cast<size_t>(*it)]) continue;
      seen[static_cast<size_t>(*it)] = true;
      stack.emplace_back(*it, Depth);
    }
  };
  pushChildren(Folder, 1);
  while (!stack.empty()) {
    const auto [item, depth] = stack.back();
    stack.pop_back();
    Visit(item, depth);
    pushChildren(item, depth + 1);
  }
}

std::vector<int32_t> TContainerTree::Unreachable() const {
  std::vector<bool> reached(static_cast<size_t>(FItems.ItemCount()), false);
  Walk(-1, [&](int32_t ItemNo, int) { reached[static_cast<size_t>(ItemNo)] = true; });
  std::vector<int32_t> result;
  for (int32_t i = 0; i < FItems.ItemCount(); ++i)
    if (FItems.Record(i).Deleted == 0 && !reached[static_cast<size_t>(i)]) result.push_back(i);
  return result;
}

int32_t MakeFolders(TSingleFileSystem& FileSystem, const TContainerPath& Path) {
  int32_t current = -1;
  TContainerPath done;
  for (const AnsiString& name : Path.Names) {
    done = done.Child(name);
    const int32_t child = FileSystem.DIRManager().Items().FindChild(current, name.c_str());
    if (child >= 0) {
      if (!IsFolder(FileSystem, child))
        throw ESfsError(done.Display() + ": exists and is not a folder");
      current = child;
      continue;
    }
    CheckItemName(name, true, done.Display());
    FileSystem.LastError = 0;
    const bool made = FileSystem.ForceDirectories(done.Engine());
    current = FileSystem.DIRManager().Items().FindChild(current, name.c_str());
    if (!made || current < 0) {
      throw ESfsError(done.Display() + ": the folder cannot be made" +
                      (FileSystem.LastError != 0 ? " (" + ErrorCodeText(FileSystem.LastError) + ")"
                                                 : std::string()));
    }
  }
  return current;
}

AnsiString UniqueName(const TSingleFileSystem& FileSystem, int32_t Parent,
                      const AnsiString& Prefix) {
  static std::mt19937_64 random{std::random_device{}()};
  const TDIRArray& items = FileSystem.DIRManager().Items();
  for (int attempt = 0; attempt < 1000; ++attempt) {
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
    AnsiString name = Prefix + suffix;
    if (items.FindChild(Parent, name.c_str()) < 0) return name;
  }
  throw ESfsError("no free temporary name in the folder");
}

std::string ErrorCodeText(int32_t Code) {
  switch (Code) {
    case sfsNoSpace:
      return "no space left for the container (error -17)";
    case sfsFileInUse:
      return "the file is open (error -16)";
    case -7:
    case -9:
      return "a page could not be read (error " + std::to_string(Code) + ")";
    case -8:
    case -10:
      return "a page could not be written (error " + std::to_string(Code) + ")";
    case -12:
      return "a page could not be deciphered (error -12)";
    case -13:
      return "a page could not be enciphered (error -13)";
    default:
      return "error " + std::to_string(Code);
  }
}

}  // namespace zk::sfs
