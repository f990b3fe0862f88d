// The commands that move files in and out of a container and arrange them:
// put, cat, get, mkdir, rm and mv.
#include <cstdio>
#include <optional>

#include "container/api/SingleFileSystem.h"
#include "container/engine/DIRManager.h"
#include "platform/rtl/Exception.h"
#include "tools/sfs/Commands.h"
#include "tools/sfs/Container.h"
#include "tools/sfs/FileAccess.h"
#include "tools/sfs/HostFiles.h"
#include "tools/sfs/Progress.h"

namespace zk::sfs {

namespace {

// A run shows a progress bar when it moves at least this much.
constexpr int64_t LargeRunBytes = 16ll << 20;
constexpr size_t LargeRunFiles = 200;

AnsiString GivenFilePassword(const TParsedLine& Line) {
  return Line.Has("file-password") ? ToAnsi(Line.Value("file-password"), "the file password")
                                   : AnsiString();
}

// Byte progress over a whole run.
class TRunProgress {
 public:
  TRunProgress(const char* Label, int64_t TotalBytes, size_t Files)
      : FBar(Label, TotalBytes >= LargeRunBytes || Files >= LargeRunFiles), FTotal(TotalBytes) {}
  void Add(int64_t Bytes) {
    FDone += Bytes;
    FBar.Update(FDone, FTotal);
  }
  TByteCounter Counter() {
    return [this](int64_t Bytes) { Add(Bytes); };
  }
  void Finish() { FBar.Finish(); }

 private:
  TProgressBar FBar;
  int64_t FTotal;
  int64_t FDone = 0;
};

// --- put ---

struct TPutStep {
  std::string HostPath;
  TContainerPath Target;
  bool Folder = false;
  int64_t Size = 0;
  int64_t WriteTime = 0;
};

// The steps of "put -r": the folder Host itself (as Target) and everything
// below it, parents first. Items that cannot be stored are reported and
// counted in Failures.
std::vector<TPutStep> PlanTree(const std::string& Host, const TContainerPath& Target,
                               int& Failures) {
  std::vector<TPutStep> steps;
  std::vector<TPutStep> pending{{Host, Target, true, 0, 0}};
  while (!pending.empty()) {
    TPutStep folder = std::move(pending.back());
    pending.pop_back();
    steps.push_back(folder);
    std::vector<std::string> names;
    try {
      names = ListHostFolder(folder.HostPath);
    } catch (const ESfsError& e) {
      ReportError(e.what());
      ++Failures;
      continue;
    }
    std::vector<TPutStep> subfolders;
    for (const std::string& name : names) {
      const std::string host = JoinHostPath(folder.HostPath, name);
      const THostEntry entry = StatHost(host);
      TPutStep step{host, {}, false, entry.Size, entry.WriteTime};
      try {
        const AnsiString ansi = ToAnsi(name, host + ": the name");
        CheckItemName(ansi, entry.Kind == THostKind::Folder, host);
        step.Target = folder.Target.Child(ansi);
      } catch (const ESfsError& e) {
        ReportError(e.what());
        ++Failures;
        continue;
      }
      if (entry.Kind == THostKind::Folder) {
        if (entry.IsLink) {
          std::fprintf(stderr, "sfs: %s: skipped: a link to a folder\n", host.c_str());
          continue;
        }
        step.Folder = true;
        subfolders.push_back(std::move(step));
      } else if (entry.Kind == THostKind::File) {
        steps.push_back(std::move(step));
      } else {
        std::fprintf(stderr, "sfs: %s: skipped: not a regular file or folder\n", host.c_str());
      }
    }
    // Depth first, in name order.
    for (auto it = subfolders.rbegin(); it != subfolders.rend(); ++it) pending.push_back(*it);
  }
  return steps;
}

int RunPut(const TParsedLine& Line) {
  const std::string& doc = Line.Arguments[0];
  const std::string& source = Line.Arguments[1];
  const bool recursive = Line.Has("recursive");
  TStoreOptions options;
  options.HasMethod = Line.Has("compression");
  if (options.HasMethod) options.Method = ParseCompression(Line.Value("compression"));
  options.FilePassword = GivenFilePassword(Line);
  if (source == "-" && Line.Arguments.size() < 3)
    throw EUsageError("put from standard input needs DEST");
  if (source == "-" && recursive) throw EUsageError("-r cannot read standard input");

  const THostEntry entry = source == "-" ? THostEntry{THostKind::File} : StatHost(source);
  if (entry.Kind == THostKind::Missing) throw ESfsError(source + ": no such file or folder");
  if (entry.Kind == THostKind::Folder && !recursive)
    throw ESfsError(source + ": is a folder (use -r)");
  if (entry.Kind == THostKind::Other) throw ESfsError(source + ": not a regular file");

  TOpenedContainer opened = OpenContainerFile(doc, true, ReadPasswordArgument(Line));
  TSingleFileSystem& fs = *opened.FileSystem;

  // Where it goes: DEST, or the source's name at the root; an existing
  // folder DEST (or one written with a trailing separator) takes a file in.
  TContainerPath target;
  const std::string base = HostBaseName(source);
  if (Line.Arguments.size() > 2) {
    target = ParseContainerPath(Line.Arguments[2]);
  } else {
    target = ParseContainerPath("/" + base);
  }
  if (entry.Kind == THostKind::File) {
    const int32_t existing = FindItem(fs, target);
    if (target.IsRoot() || target.TrailingSeparator ||
        (existing != NoItem && IsFolder(fs, existing))) {
      if (base.empty() || source == "-")
        throw EUsageError("give DEST with the name of the new file");
      target = target.Child(ToAnsi(base, "the name"));
    }
    MakeFolders(fs, target.Parent());
    THostReader reader(source);
    TRunProgress progress("put", entry.Size, 1);
    StoreFile(fs, target, reader, source == "-" ? 0 : entry.WriteTime, options, progress.Counter());
    return ExitOk;
  }

  // A folder tree: its contents go under DEST, which is made when missing.
  int failures = 0;
  const std::vector<TPutStep> steps = PlanTree(source, target, failures);
  int64_t total = 0;
  size_t files = 0;
  for (const TPutStep& step : steps)
    if (!step.Folder) total += step.Size, ++files;
  TRunProgress progress("put", total, files);
  for (const TPutStep& step : steps) {
    try {
      if (step.Folder) {
        MakeFolders(fs, step.Target);
      } else {
        MakeFolders(fs, step.Target.Parent());
        THostReader reader(step.HostPath);
        StoreFile(fs, step.Target, reader, step.WriteTime, options, progress.Counter());
      }
    } catch (const ESfsError& e) {
      progress.Finish();
      ReportError(e.what());
      ++failures;
    }
  }
  return failures == 0 ? ExitOk : ExitFailure;
}

// --- cat ---

int RunCat(const TParsedLine& Line) {
  TOpenedContainer opened = OpenContainerFile(Line.Arguments[0], false, ReadPasswordArgument(Line));
  TSingleFileSystem& fs = *opened.FileSystem;
  const TContainerPath path = ParseContainerPath(Line.Arguments[1]);
  const int32_t item = FindItem(fs, path);
  if (item == NoItem) throw ESfsError(path.Display() + ": no such file");
  if (IsFolder(fs, item)) throw ESfsError(path.Display() + ": is a folder");
  const AnsiString password =
      FilePasswordFor(fs, item, Line.Has("file-password"), GivenFilePassword(Line));
  auto stream = OpenForReading(fs, item, password, Line.Has("raw"));
  CopyOut(fs, *stream, path.Display(),
          [](const void* Data, size_t Size) { WriteAll(stdout, Data, Size, "standard output"); },
          {});
  return ExitOk;
}

// --- get ---

// Host name of a stored item; a name no host file may carry is refused.
std::string HostNameOf(const TSingleFileSystem& FileSystem, int32_t ItemNo) {
  const AnsiString name = ItemName(ItemRecord(FileSystem, ItemNo));
  std::string utf8;
  if (!TryToUtf8(name, utf8)) {
    throw ESfsError(DisplayItemPath(FileSystem, ItemNo) +
                    ": the name is no GBK text and cannot be given to a host file");
  }
  if (utf8.empty() || utf8 == "." || utf8 == ".." || utf8.find('/') != std::string::npos) {
    throw ESfsError(DisplayItemPath(FileSystem, ItemNo) + ": the name " + Quoted(utf8) +
                    " cannot be given to a host file");
  }
  return utf8;
}

void ExtractFile(TSingleFileSystem& FileSystem, int32_t ItemNo, const std::string& Host,
                 const TParsedLine& Line, TRunProgress& Progress) {
  const std::string where = DisplayItemPath(FileSystem, ItemNo);
  const AnsiString password =
      FilePasswordFor(FileSystem, ItemNo, Line.Has("file-password"), GivenFilePassword(Line));
  try {
    auto stream = OpenForReading(FileSystem, ItemNo, password, false);
    THostWriter writer(Host);
    CopyOut(
        FileSystem, *stream, where,
        [&](const void* Data, size_t Size) { writer.Write(Data, Size); }, Progress.Counter());
    writer.Commit();
  } catch (const zk::Exception& e) {
    throw ESfsError(where + ": " + ToDisplay(e.Message));
  }
  SetHostWriteTime(Host, ItemRecord(FileSystem, ItemNo).LastWriteTime);
}

int RunGet(const TParsedLine& Line) {
  TOpenedContainer opened = OpenContainerFile(Line.Arguments[0], false, ReadPasswordArgument(Line));
  TSingleFileSystem& fs = *opened.FileSystem;
  const TContainerPath path = ParseContainerPath(Line.Arguments[1]);
  const int32_t item = FindItem(fs, path);
  if (item == NoItem) throw ESfsError(path.Display() + ": no such file or folder");
  const bool recursive = Line.Has("recursive");
  const bool folder = IsFolder(fs, item);
  if (folder && !recursive) throw ESfsError(path.Display() + ": is a folder (use -r)");

  std::string dest;
  if (Line.Arguments.size() > 2) {
    dest = Line.Arguments[2];
  } else {
    dest = item == -1 ? std::string(".") : HostNameOf(fs, item);
  }
  if (!folder) {
    const THostEntry there = StatHost(dest);
    if (there.Kind == THostKind::Folder || (!dest.empty() && dest.back() == '/')) {
      MakeHostFolders(dest);
      dest = JoinHostPath(dest, HostNameOf(fs, item));
    }
    TRunProgress progress("get", ItemRecord(fs, item).Size, 1);
    ExtractFile(fs, item, dest, Line, progress);
    return ExitOk;
  }

  // A folder tree: its contents go under DEST, made when missing.
  const TContainerTree tree(fs.DIRManager().Items());
  std::vector<std::pair<int32_t, std::string>> steps;  // item, host path
  std::vector<std::string> hostOf(static_cast<size_t>(fs.DIRManager().Items().ItemCount()));
  int failures = 0;
  int64_t total = 0;
  size_t files = 0;
  if (item == -1) steps.emplace_back(-1, dest);  // the walk does not visit the root
  tree.Walk(item, [&](int32_t ItemNo, int Depth) {
    std::string host;
    if (Depth == 0) {
      host = dest;
    } else {
      const int32_t parent = ItemRecord(fs, ItemNo).ParentID;
      const std::string& parentHost = parent == item ? dest : hostOf[static_cast<size_t>(parent)];
      if (parentHost.empty()) return;  // its folder could not be named
      try {
        host = JoinHostPath(parentHost, HostNameOf(fs, ItemNo));
      } catch (const ESfsError& e) {
        ReportError(e.what());
        ++failures;
        return;
      }
    }
    if (ItemNo >= 0) hostOf[static_cast<size_t>(ItemNo)] = host;
    if (ItemNo >= 0 && !IsFolder(fs, ItemNo)) total += ItemRecord(fs, ItemNo).Size, ++files;
    steps.emplace_back(ItemNo, host);
  });
  TRunProgress progress("get", total, files);
  for (const auto& [itemNo, host] : steps) {
    try {
      if (IsFolder(fs, itemNo))
        MakeHostFolders(host);
      else
        ExtractFile(fs, itemNo, host, Line, progress);
    } catch (const ESfsError& e) {
      progress.Finish();
      ReportError(e.what());
      ++failures;
    }
  }
  return failures == 0 ? ExitOk : ExitFailure;
}

// --- mkdir ---

int RunMkdir(const TParsedLine& Line) {
  TOpenedContainer opened = OpenContainerFile(Line.Arguments[0], true, ReadPasswordArgument(Line));
  MakeFolders(*opened.FileSystem, ParseContainerPath(Line.Arguments[1]));
  return ExitOk;
}

// --- rm ---

int RunRm(const TParsedLine& Line) {
  TOpenedContainer opened = OpenContainerFile(Line.Arguments[0], true, ReadPasswordArgument(Line));
  TSingleFileSystem& fs = *opened.FileSystem;
  const TContainerPath path = ParseContainerPath(Line.Arguments[1]);
  const int32_t item = FindItem(fs, path);
  if (item == NoItem) throw ESfsError(path.Display() + ": no such file or folder");
  if (item == -1) throw ESfsError("/: the root folder cannot be removed");
  const TContainerTree tree(fs.DIRManager().Items());
  if (IsFolder(fs, item) && !tree.Children(item).empty() && !Line.Has("recursive"))
    throw ESfsError(path.Display() + ": the folder is not empty (use -r)");
  // Children before their folders.
  std::vector<int32_t> order;
  tree.Walk(item, [&](int32_t ItemNo, int) { order.push_back(ItemNo); });
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    const AnsiString enginePath = fs.DIRManager().GetItemPath(*it);
    fs.LastError = 0;
    if (!fs.DeleteFile(enginePath)) {
      const std::string shown = DisplayEnginePath(enginePath);
      if (IsFolder(fs, *it)) throw ESfsError(shown + ": the folder is not empty");
      throw ESfsError(
          shown + ": cannot be removed" +
          (fs.LastError != 0 ? " (" + ErrorCodeText(fs.LastError) + ")" : std::string()));
    }
  }
  return ExitOk;
}

// --- mv ---

std::string MoveFailure(int32_t Code) {
  switch (Code) {
    case sfsTargetExists:
      return "the target exists";
    case sfsMoveIntoItself:
      return "a folder cannot move into itself";
    case sfsFileInUse:
      return "the item is open";
    default:
      return ErrorCodeText(Code);
  }
}

int RunMv(const TParsedLine& Line) {
  TOpenedContainer opened = OpenContainerFile(Line.Arguments[0], true, ReadPasswordArgument(Line));
  TSingleFileSystem& fs = *opened.FileSystem;
  const TContainerPath from = ParseContainerPath(Line.Arguments[1]);
  TContainerPath to = ParseContainerPath(Line.Arguments[2]);
  const int32_t item = FindItem(fs, from);
  if (item == NoItem) throw ESfsError(from.Display() + ": no such file or folder");
  if (item == -1) throw ESfsError("/: the root folder cannot be moved");
  const int32_t there = FindItem(fs, to);
  // Into an existing folder (unless it is the item itself: a change of case).
  if (there != NoItem && there != item && IsFolder(fs, there))
    to = to.Child(from.Name());
  else if (to.IsRoot())
    to = to.Child(from.Name());
  const int32_t parent = FindItem(fs, to.Parent());
  if (parent == NoItem || !IsFolder(fs, parent))
    throw ESfsError(to.Parent().Display() + ": no such folder");
  CheckItemName(to.Name(), IsFolder(fs, item), to.Display());
  const int32_t taken = fs.DIRManager().Items().FindChild(parent, to.Name().c_str());
  if (taken >= 0 && taken != item) throw ESfsError(to.Display() + ": exists already");
  fs.LastError = 0;
  if (!fs.RenameItem(from.Engine(), to.Engine()))
    throw ESfsError(from.Display() + ": cannot be moved to " + to.Display() + ": " +
                    MoveFailure(fs.LastError));
  return ExitOk;
}

}  // namespace

void AddFileCommands(std::vector<TCommand>& Commands) {
  const TOptionDef filePassword{0, "file-password", true, "P", "the file's own password"};

  TCommand put;
  put.Name = "put";
  put.Synopsis = "[-r] [--compression M] [--file-password P] DOC SOURCE [DEST]";
  put.Summary = "store a host file or folder tree";
  put.Description =
      "Stores the host file SOURCE (- for standard input, which needs DEST) as DEST\n"
      "(default: its name at the root). A DEST that is a folder, or ends in /,\n"
      "takes the file in. With -r SOURCE is a folder whose contents go under DEST,\n"
      "made when missing. Missing folders are made. A file that is there already\n"
      "is replaced only once the new one is complete. Without --compression the\n"
      "container's default method applies; --file-password gives each new file\n"
      "a password of its own.";
  put.Options = {
      {'r', "recursive", false, "", "store a folder tree"},
      {0, "compression", true, "M", "compression method: 0-9 or a name"},
      filePassword,
  };
  put.MinArguments = 2;
  put.MaxArguments = 3;
  put.Run = RunPut;
  Commands.push_back(put);

  TCommand cat;
  cat.Name = "cat";
  cat.Synopsis = "[--raw] [--file-password P] DOC PATH";
  cat.Summary = "write a file's bytes to standard output";
  cat.Description =
      "Writes the file PATH to standard output; with --raw the bytes as they are\n"
      "stored (a compressed file's stream header and blocks).";
  cat.Options = {{0, "raw", false, "", "the stored bytes, not decompressed"}, filePassword};
  cat.MinArguments = cat.MaxArguments = 2;
  cat.Run = RunCat;
  Commands.push_back(cat);

  TCommand get;
  get.Name = "get";
  get.Synopsis = "[-r] [--file-password P] DOC PATH [DEST]";
  get.Summary = "extract a file or folder tree to the host";
  get.Description =
      "Extracts the file PATH to DEST (default: its name in the current folder; a\n"
      "DEST that is a folder takes it in). With -r PATH may be a folder, whose\n"
      "contents go under DEST (default: a folder of its name), made when missing.";
  get.Options = {{'r', "recursive", false, "", "extract a folder tree"}, filePassword};
  get.MinArguments = 2;
  get.MaxArguments = 3;
  get.Run = RunGet;
  Commands.push_back(get);

  TCommand mkdir;
  mkdir.Name = "mkdir";
  mkdir.Synopsis = "DOC PATH";
  mkdir.Summary = "make a folder (and its missing parents)";
  mkdir.Description = "Makes the folder PATH and every missing folder above it.";
  mkdir.MinArguments = mkdir.MaxArguments = 2;
  mkdir.Run = RunMkdir;
  Commands.push_back(mkdir);

  TCommand rm;
  rm.Name = "rm";
  rm.Synopsis = "[-r] DOC PATH";
  rm.Summary = "remove a file or folder";
  rm.Description = "Removes the file or empty folder PATH; with -r a folder and everything in it.";
  rm.Options = {{'r', "recursive", false, "", "remove a folder and its contents"}};
  rm.MinArguments = rm.MaxArguments = 2;
  rm.Run = RunRm;
  Commands.push_back(rm);

  TCommand mv;
  mv.Name = "mv";
  mv.Synopsis = "DOC FROM TO";
  mv.Summary = "rename or move a file or folder";
  mv.Description =
      "Renames or moves FROM to TO inside the container. An existing folder TO\n"
      "takes FROM in; an existing file TO is not replaced.";
  mv.MinArguments = mv.MaxArguments = 3;
  mv.Run = RunMv;
  Commands.push_back(mv);
}

}  // namespace zk::sfs
