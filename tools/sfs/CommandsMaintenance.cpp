// The commands that look after a whole container: repair, passwd and verify.
#include <cstdio>
#include <vector>

#include "container/api/SingleFileSystem.h"
#include "container/crypto/CheckValue.h"
#include "container/engine/DIRManager.h"
#include "container/engine/FreeSpaceManager.h"
#include "container/engine/PageFileManager.h"
#include "container/engine/UserFilePageMapManager.h"
#include "platform/rtl/Exception.h"
#include "tools/sfs/Commands.h"
#include "tools/sfs/Container.h"
#include "tools/sfs/FileAccess.h"
#include "tools/sfs/Progress.h"

namespace zk::sfs {

namespace {

void ShowProgressOf(TSingleFileSystem& FileSystem, TProgressBar& Bar) {
  FileSystem.OnProgress = [&Bar](TSingleFileSystem&, bool&, double Percent) {
    Bar.Update(Percent);
  };
}

// --- repair ---

int RunRepair(const TParsedLine& Line) {
  TOpenedContainer opened = OpenContainerFile(Line.Arguments[0], true, ReadPasswordArgument(Line));
  TSingleFileSystem& fs = *opened.FileSystem;
  TProgressBar bar("repair");
  ShowProgressOf(fs, bar);
  AnsiString report;
  fs.LastError = 0;
  const bool ok = fs.RepairFile(report, Line.Has("skip-damaged"), false, AnsiString(), AnsiString(),
                                AnsiString());
  bar.Finish();
  const std::string shown = ToDisplay(report);
  std::fwrite(shown.data(), 1, shown.size(), stdout);
  std::fflush(stdout);
  if (!ok) {
    ReportError("the repair did not succeed" +
                (fs.LastError != 0 ? " (" + ErrorCodeText(fs.LastError) + ")" : std::string()));
    return ExitFailure;
  }
  return ExitOk;
}

// --- passwd ---

int RunPasswd(const TParsedLine& Line) {
  if (Line.Has("question") != Line.Has("answer"))
    throw EUsageError("--question and --answer go together");
  const AnsiString newPassword =
      Line.Has("new") ? ToAnsi(Line.Value("new"), "the new password") : AnsiString();
  if (Line.Has("question") && newPassword.empty())
    throw EUsageError("--question and --answer need --new");
  const AnsiString question = ToAnsi(Line.Value("question"), "the question");
  const AnsiString answer = ToAnsi(Line.Value("answer"), "the answer");

  TOpenedContainer opened = OpenContainerFile(Line.Arguments[0], true, ReadPasswordArgument(Line));
  TSingleFileSystem& fs = *opened.FileSystem;
  if (!fs.IsEncrypted() && newPassword.empty()) {
    std::fprintf(stderr, "sfs: %s has no password; nothing changed\n", Line.Arguments[0].c_str());
    return ExitOk;
  }
  TProgressBar bar("passwd");
  ShowProgressOf(fs, bar);
  fs.LastError = 0;
  const bool ok = fs.ChangePassword(newPassword, question, answer);
  bar.Finish();
  if (!ok) {
    throw ESfsError("the password could not be changed" +
                    (fs.LastError != 0 ? " (" + ErrorCodeText(fs.LastError) + ")" : std::string()));
  }
  return ExitOk;
}

// --- verify ---

// Reads pages as they are stored and compares their check values.
class TPageChecker {
 public:
  explicit TPageChecker(TSingleFileSystem& FileSystem) : FPageFile(FileSystem.PageFile()) {
    FPageFile.AllocPageBuffer(FPage);
  }
  ~TPageChecker() { FPageFile.FreePageBuffer(FPage); }
  TPageChecker(const TPageChecker&) = delete;
  TPageChecker& operator=(const TPageChecker&) = delete;

  // "" when page PageNo reads and its check value over Size data bytes fits.
  std::string Check(int32_t PageNo, int32_t Size) {
    const std::string page = "page " + std::to_string(PageNo);
    if (PageNo < 1 || PageNo >= FPageFile.Header.PageCount)
      return page + " lies outside the container";
    try {
      if (!FPageFile.ReadPage(FPage, PageNo, Size, AnsiString(), true))
        return page + " cannot be read (" + ErrorCodeText(FPageFile.LastError) + ")";
    } catch (const zk::Exception& e) {
      return page + " cannot be read: " + ToDisplay(e.Message);
    }
    if (ComputeCheckValue(FPage.Data, static_cast<uint32_t>(Size), FPage.CheckKind) !=
        FPage.CheckValue)
      return page + ": the check value does not match";
    return {};
  }

 private:
  TPageFileManager& FPageFile;
  TPageBuffer FPage;
};

void PrintDamage(const std::string& What, const std::vector<std::string>& Problems) {
  std::printf("%s: damaged\n", What.c_str());
  for (const std::string& problem : Problems) std::printf("  %s\n", problem.c_str());
}

// The check values of the directory and free-space map pages.
std::vector<std::string> CheckStructure(TSingleFileSystem& FileSystem, TPageChecker& Checker) {
  std::vector<std::string> problems;
  auto check = [&](const char* Kind, int32_t PageNo, int32_t Size) {
    std::string problem = Checker.Check(PageNo, Size);
    if (!problem.empty()) problems.push_back(std::string(Kind) + " " + problem);
  };
  const TDIRManager& dir = FileSystem.DIRManager();
  for (int32_t i = 0; i < dir.DIRPages().ItemCount(); ++i)
    check("directory", dir.DIRPages()[i], dir.ItemsPerPage() * DIRItemSize);
  const TFreeSpaceManager& free = FileSystem.FreeSpace();
  for (int32_t i = 0; i < free.PFSPageMap().ItemCount(); ++i)
    check("free-space map (PFS)", free.PFSPageMap()[i], free.PFSBytes());
  for (int32_t i = 0; i < free.GAMPageMap().ItemCount(); ++i) {
    check("free-space map (GAM)", free.GAMPageMap()[i], free.GAMBytes());
    check("free-space map (SGAM)", free.GAMPageMap()[i] + 1, free.GAMBytes());
  }
  return problems;
}

// Everything wrong with one file: its map, the check values of its pages,
// and its bytes read through its streams (block check values included).
std::vector<std::string> CheckFile(TSingleFileSystem& FileSystem, TPageChecker& Checker,
                                   int32_t ItemNo, const TParsedLine& Line, bool& ContentChecked) {
  std::vector<std::string> problems;
  TDIRItem item = ItemRecord(FileSystem, ItemNo);
  const int32_t dataSize = FileSystem.PageFile().PageDataSize();
  if (item.FirstMapPageNo != -1) {
    std::vector<int32_t> mapPages, dataPages;
    try {
      TIntegerArray* maps = nullptr;
      TIntegerArray* data = nullptr;
      FileSystem.PageMaps().GetMaps(item, maps, data);
      mapPages.assign(maps->Items().begin(), maps->Items().end());
      dataPages.assign(data->Items().begin(), data->Items().end());
    } catch (const zk::Exception& e) {
      problems.push_back("page map: " + ToDisplay(e.Message));
    }
    for (int32_t p : mapPages) {
      std::string problem = Checker.Check(p, dataSize);
      if (!problem.empty()) problems.push_back("map " + problem);
    }
    for (int32_t p : dataPages) {
      std::string problem = Checker.Check(p, dataSize);
      if (!problem.empty()) problems.push_back("data " + problem);
    }
  }

  ContentChecked = false;
  AnsiString password = Line.Has("file-password")
                            ? ToAnsi(Line.Value("file-password"), "the file password")
                            : AnsiString();
  if (item.EncryptionType != 0 && !FileSystem.DIRManager().CheckFilePassword(
                                      FileSystem.DIRManager().GetItemPath(ItemNo), password))
    return problems;
  try {
    auto stream = OpenForReading(FileSystem, ItemNo, password, false);
    CopyOut(FileSystem, *stream, "contents", [](const void*, size_t) {}, {});
    ContentChecked = true;
  } catch (const ESfsError& e) {
    problems.push_back(e.what());
  } catch (const zk::Exception& e) {
    problems.push_back("contents: " + ToDisplay(e.Message));
  }
  return problems;
}

int RunVerify(const TParsedLine& Line) {
  TOpenedContainer opened = OpenContainerFile(Line.Arguments[0], false, ReadPasswordArgument(Line));
  TSingleFileSystem& fs = *opened.FileSystem;
  // Nothing asks for passwords here: a file whose password is missing is
  // only not read.
  fs.OnPassword = [](TSingleFileSystem&, const AnsiString&, AnsiString&, bool& Cancel) {
    Cancel = true;
  };
  TPageChecker checker(fs);
  int damaged = 0;
  int files = 0;

  const std::vector<std::string> structure = CheckStructure(fs, checker);
  if (!structure.empty()) {
    PrintDamage("container structure", structure);
    ++damaged;
  }
  const TContainerTree tree(fs.DIRManager().Items());
  for (int32_t itemNo : tree.Unreachable()) {
    PrintDamage("item #" + std::to_string(itemNo) + " " +
                    Quoted(ToDisplay(ItemName(ItemRecord(fs, itemNo)))),
                {"it lies in no folder of the container"});
    ++damaged;
  }
  std::vector<int32_t> unchecked;
  tree.Walk(-1, [&](int32_t ItemNo, int) {
    if (IsFolder(fs, ItemNo)) return;
    ++files;
    bool contentChecked = false;
    const std::vector<std::string> problems = CheckFile(fs, checker, ItemNo, Line, contentChecked);
    if (!problems.empty()) {
      PrintDamage(DisplayItemPath(fs, ItemNo), problems);
      ++damaged;
    } else if (!contentChecked) {
      unchecked.push_back(ItemNo);
    }
  });
  for (int32_t itemNo : unchecked) {
    std::fprintf(stderr,
                 "sfs: %s: has a password of its own; only its pages were checked (give "
                 "--file-password)\n",
                 DisplayItemPath(fs, itemNo).c_str());
  }
  std::printf("%d files checked, %d damaged\n", files, damaged);
  return damaged == 0 ? ExitOk : ExitFailure;
}

}  // namespace

void AddMaintenanceCommands(std::vector<TCommand>& Commands) {
  TCommand repair;
  repair.Name = "repair";
  repair.Synopsis = "[--skip-damaged] DOC";
  repair.Summary = "rebuild and compact a container";
  repair.Description =
      "Copies every folder and file into a new container file and puts it in the\n"
      "place of the old one (which compacts it). With --skip-damaged a file whose\n"
      "pages cannot be read is left out and everything else is saved. Prints the\n"
      "repair's report; exit status 1 when it did not succeed.";
  repair.Options = {{0, "skip-damaged", false, "", "leave out files that cannot be read"}};
  repair.Run = RunRepair;
  Commands.push_back(repair);

  TCommand passwd;
  passwd.Name = "passwd";
  passwd.Synopsis = "[--new P] [--question Q --answer A] DOC";
  passwd.Summary = "change or remove the container's password";
  passwd.Description =
      "Re-keys the container with the new password P; without --new the password\n"
      "is removed. The current password is given with -p or --password-file\n"
      "(none is needed for a project document with a built-in password).";
  passwd.Options = {
      {0, "new", true, "P", "the new password"},
      {0, "question", true, "Q", "a question that reminds of the new password"},
      {0, "answer", true, "A", "the answer to the question"},
  };
  passwd.Run = RunPasswd;
  Commands.push_back(passwd);

  TCommand verify;
  verify.Name = "verify";
  verify.Synopsis = "[--file-password P] DOC";
  verify.Summary = "check every file and page";
  verify.Description =
      "Reads every file through its streams (checking each block's check value),\n"
      "compares the check values of the directory, map and data pages, and lists\n"
      "each damaged file by its path. Exit status 1 when anything is damaged.";
  verify.Options = {{0, "file-password", true, "P", "the password of files with their own"}};
  verify.Run = RunVerify;
  Commands.push_back(verify);
}

}  // namespace zk::sfs
