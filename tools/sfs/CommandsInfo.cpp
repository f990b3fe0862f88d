// The commands that make a container or tell about it: create, info, ls and
// product.
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "container/api/BuiltInKeys.h"
#include "container/api/SingleFileSystem.h"
#include "container/engine/DIRManager.h"
#include "container/engine/PageFileManager.h"
#include "container/storage/SFSHugeFile.h"
#include "platform/rtl/Exception.h"
#include "selector/ProductName.h"
#include "tools/sfs/Commands.h"
#include "tools/sfs/Container.h"
#include "tools/sfs/FileAccess.h"
#include "tools/sfs/HostFiles.h"

namespace zk::sfs {

namespace {

constexpr int64_t Int32Max = 2147483647;

// --- create ---

int RunCreate(const TParsedLine& Line) {
  const std::string& doc = Line.Arguments[0];
  const TPasswordArgument password = ReadPasswordArgument(Line);
  const bool builtIn = Line.Has("builtin");
  if (builtIn && password.Given) throw EUsageError("give either --builtin or a password, not both");
  if (Line.Has("question") != Line.Has("answer"))
    throw EUsageError("--question and --answer go together");
  if (Line.Has("question") && password.Password.empty())
    throw EUsageError("--question and --answer need a password");
  const uint8_t method = Line.Has("compression") ? ParseCompression(Line.Value("compression")) : 0;
  const int32_t pageSize = static_cast<int32_t>(
      Line.Has("page-size") ? ParseSize(Line.Value("page-size"), "page-size", 1, Int32Max) : 4096);
  const int32_t extentPages = static_cast<int32_t>(
      Line.Has("extent-pages") ? ParseSize(Line.Value("extent-pages"), "extent-pages", 1, Int32Max)
                               : 8);
  const int64_t partSize =
      Line.Has("part-size") ? ParseSize(Line.Value("part-size"), "part-size", 1, INT64_MAX) : -1;
  const AnsiString question = ToAnsi(Line.Value("question"), "the question");
  const AnsiString answer = ToAnsi(Line.Value("answer"), "the answer");

  if (StatHost(doc).Kind != THostKind::Missing || StatHost(doc).IsLink)
    throw ESfsError(doc + ": exists already (remove it first or choose another name)");
  const AnsiString name = HostPathToAnsi(doc);
  const AnsiString key = builtIn ? GetCurrentBuiltInPassword() : password.Password;
  try {
    auto fileSystem = TSingleFileSystem::CreateEx(name, ModeCreate, false, key, question, answer,
                                                  method, pageSize, extentPages, partSize);
  } catch (...) {
    // A creation that failed half-way (a password block refused after the
    // file was made) leaves no file behind.
    std::error_code ec;
    std::filesystem::remove(doc, ec);
    throw;
  }
  return ExitOk;
}

// --- info ---

std::string EncryptionName(uint8_t Type) {
  switch (Type) {
    case 0:
      return "0 (none)";
    case 1:
      return "1 (Rijndael)";
    default:
      return std::to_string(Type) + " (unknown)";
  }
}

int RunInfo(const TParsedLine& Line) {
  TOpenedContainer opened = OpenContainerFile(Line.Arguments[0], false, ReadPasswordArgument(Line));
  TSingleFileSystem& fs = *opened.FileSystem;
  const TSFSFileHeader& h = fs.PageFile().Header;
  TSFSHugeFile& file = fs.PageFile().HugeFile();
  auto line = [](const char* Key, const std::string& Value) {
    std::printf("%s: %s\n", Key, Value.c_str());
  };
  line("page size", std::to_string(h.PageSize));
  line("extent page count", std::to_string(h.ExtentPageCount));
  line("page count", std::to_string(h.PageCount));
  line("encryption type", EncryptionName(h.EncryptionType));
  line("password", KeyKindName(opened.Key));
  line("default compression method", CompressionName(h.CompressionMethod));
  line("directory page count", std::to_string(h.DIRPageCount));
  line("first directory page", std::to_string(h.FirstDIRPageNo));
  line("directory item count", std::to_string(h.DIRItemCount));
  line("GAM page count", std::to_string(h.GAMPageCount));
  line("PFS page count", std::to_string(h.PFSPageCount));
  line("app value", std::to_string(h.AppValue));
  line("container size", std::to_string(fs.GetContainerSize()));
  line("part size", std::to_string(file.PartSize()));
  line("part files", std::to_string(file.PartCount()));
  for (int i = 0; i < file.PartCount(); ++i) {
    const std::string key = "part file " + std::to_string(i + 1);
    line(key.c_str(), ToDisplay(file.Part(i).FileName()));
  }
  return ExitOk;
}

// --- ls ---

void PrintLong(TSingleFileSystem& FileSystem, int32_t ItemNo) {
  const TDIRItem& item = ItemRecord(FileSystem, ItemNo);
  const bool folder = item.IsDirectory != 0;
  std::string size = "-";
  std::string method = "-";
  if (!folder) {
    const TFileFacts facts = ProbeFile(FileSystem, ItemNo);
    size = facts.Known ? std::to_string(facts.Size) : "?";
    method = facts.Known ? std::to_string(facts.Method) : "?";
  }
  std::printf("%c %12s %s %c %s %s\n", folder ? 'd' : 'f', size.c_str(),
              FileTimeToIso(item.LastWriteTime).c_str(), item.EncryptionType != 0 ? 'p' : '-',
              method.c_str(), DisplayItemPath(FileSystem, ItemNo).c_str());
}

int RunLs(const TParsedLine& Line) {
  TOpenedContainer opened = OpenContainerFile(Line.Arguments[0], false, ReadPasswordArgument(Line));
  TSingleFileSystem& fs = *opened.FileSystem;
  const TContainerPath path =
      ParseContainerPath(Line.Arguments.size() > 1 ? Line.Arguments[1] : std::string("/"));
  const int32_t start = FindItem(fs, path);
  if (start == NoItem) throw ESfsError(path.Display() + ": no such file or folder");
  const bool longForm = Line.Has("long");
  auto print = [&](int32_t ItemNo) {
    if (longForm)
      PrintLong(fs, ItemNo);
    else
      std::printf("%s\n", DisplayItemPath(fs, ItemNo).c_str());
  };
  if (!IsFolder(fs, start)) {
    print(start);
    return ExitOk;
  }
  const TContainerTree tree(fs.DIRManager().Items());
  if (Line.Has("recursive")) {
    tree.Walk(start, [&](int32_t ItemNo, int Depth) {
      if (Depth > 0) print(ItemNo);
    });
  } else {
    for (int32_t child : tree.Children(start)) print(child);
  }
  return ExitOk;
}

// --- product ---

int RunProduct(const TParsedLine& Line) {
  // The launcher's own road: folder GC, the built-in passwords, read only.
  const AnsiString product = ReadProductName(HostPathToAnsi(Line.Arguments[0]));
  std::printf("%s\n", ToDisplay(product).c_str());
  return ExitOk;
}

}  // namespace

void AddInfoCommands(std::vector<TCommand>& Commands) {
  TCommand create;
  create.Name = "create";
  create.Synopsis = "[OPTIONS] DOC";
  create.Summary = "make a new, empty container";
  create.Description =
      "Makes the container DOC (which must not exist yet). With --password it is\n"
      "encrypted with that password; with --builtin it is keyed with the current\n"
      "built-in password of project documents. The default compression method is\n"
      "what new files get when put names none (0, stored, unless given).";
  create.Options = {
      {'p', "password", true, "P", "encrypt the container with password P"},
      {0, "password-file", true, "F", "read the password from the first line of F"},
      {0, "question", true, "Q", "a question that reminds of the password"},
      {0, "answer", true, "A", "the answer to the question"},
      {0, "builtin", false, "", "key it with the current built-in password (a project document)"},
      {0, "compression", true, "M", "default compression method: 0-9 or a name (see below)"},
      {0, "page-size", true, "N", "bytes per page (default 4096)"},
      {0, "extent-pages", true, "N", "pages per extent (default 8)"},
      {0, "part-size", true, "N", "bytes per part file (default: what the volume allows)"},
  };
  create.OpensContainer = false;
  create.Run = RunCreate;
  Commands.push_back(create);

  TCommand info;
  info.Name = "info";
  info.Synopsis = "DOC";
  info.Summary = "show the container's header";
  info.Description = "Shows the header of the container DOC as \"key: value\" lines.";
  info.Run = RunInfo;
  Commands.push_back(info);

  TCommand ls;
  ls.Name = "ls";
  ls.Synopsis = "[-l] [-R] DOC [PATH]";
  ls.Summary = "list folders and files";
  ls.Description =
      "Lists the items in the folder PATH (default: the root), one full path a line.\n"
      "With -l each line shows the type (d folder, f file), the size, the last\n"
      "write time (UTC), p for a file with its own password, and the compression\n"
      "method of the file's stream (? when it cannot be read), then the path.";
  ls.Options = {
      {'l', "long", false, "", "long form"},
      {'R', "recursive", false, "", "everything below PATH"},
  };
  ls.MaxArguments = 2;
  ls.Run = RunLs;
  Commands.push_back(ls);

  TCommand product;
  product.Name = "product";
  product.Synopsis = "DOC";
  product.Summary = "show the product name of a project document";
  product.Description =
      "Prints the ProductName of the document exactly as the launcher reads it\n"
      "(folder GC, PROFILE.INI, the built-in passwords, read only).";
  product.OpensContainer = false;
  product.Run = RunProduct;
  Commands.push_back(product);
}

}  // namespace zk::sfs
