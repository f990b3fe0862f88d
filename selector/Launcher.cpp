#include "selector/Launcher.h"

#include <optional>

#include "platform/os/AnsiCodePage.h"
#include "platform/os/FileQuery.h"
#include "platform/os/MessageBox.h"
#include "platform/os/Process.h"
#include "platform/os/Registry.h"

namespace zk {

const char* const RegistryKeyPrefix = "selector_ZK.Document\\";
const char* const DefaultExecutableName = "zk2016.exe";
const char* const MessageCaption = "\xCC\xE1\xCA\xBE";  // 提示

namespace {

// The launcher's texts in GBK.
const char kFileNameIs[] = "\xCE\xC4\xBC\xFE\xC3\xFB\xCE\xAA:";  // 文件名为:
const char kLengthIs[] = "\xB3\xA4\xB6\xC8\xCE\xAA";             // 长度为
const char kNameTooLong[] =  // 文件或文件夹名称过长！
    "\xCE\xC4\xBC\xFE\xBB\xF2\xCE\xC4\xBC\xFE\xBC\xD0\xC3\xFB\xB3\xC6\xB9\xFD\xB3\xA4\xA3\xA1";
const char kCannotFind[] =
    "\xCE\xDE\xB7\xA8\xD5\xD2\xB5\xBD\xB8\xC3\xCE\xC4\xBC\xFE\xA3\xA1";  // 无法找到该文件！
const char kCheckAndRetry[] =  // 请检查修改后重试。
    "\xC7\xEB\xBC\xEC\xB2\xE9\xD0\xDE\xB8\xC4\xBA\xF3\xD6\xD8\xCA\xD4\xA1\xA3";
const char kNotInstalled[] =
    "\xCE\xB4\xD5\xD2\xB5\xBD\xB0\xB2\xD7\xB0\xB5\xC4\xC8\xED\xBC\xFE - ";  // 未找到安装的软件 -
const char kCannotOpen[] =
    ", \xCE\xDE\xB7\xA8\xB4\xF2\xBF\xAA\xB8\xC3\xCE\xC4\xBC\xFE.";  // , 无法打开该文件.
const char kProgramFolder[] = "\xBC\xC6\xBC\xDB\xB3\xCC\xD0\xF2";   // 计价程序

bool IsBlank(unsigned char c) {
  return c <= 0x20;
}

}  // namespace

AnsiString ExtractDocumentPath(std::string_view line) {
  size_t i = 0;
  const size_t n = line.size();
  auto at = [&](size_t k) -> unsigned char {
    return k < n ? static_cast<unsigned char>(line[k]) : 0;
  };
  // 1. Blanks, and empty quoted pairs, before the program path.
  while (true) {
    while (i < n && at(i) != 0 && IsBlank(at(i))) i = CharNext(line, i);
    if (at(i) == '"' && at(i + 1) == '"') {
      i += 2;
      continue;
    }
    break;
  }
  // 2. The program path, with quoted runs.
  while (i < n && at(i) > 0x20) {
    if (at(i) == '"') {
      i = CharNext(line, i);
      while (i < n && at(i) != '"') i = CharNext(line, i);
      if (i < n) i = CharNext(line, i);
    } else {
      i = CharNext(line, i);
    }
  }
  // 3.-5. The rest, trimmed, one pair of enclosing quotes removed.
  AnsiString rest = Trim(line.substr(i));
  if (!rest.empty() && rest.front() == '"' && rest.back() == '"') {
    rest.erase(0, 1);
    if (!rest.empty()) rest.pop_back();
  }
  return rest;
}

bool IsExistingFile(const AnsiString& Path) {
  if (os::FileQuery().FileExists(Path)) return true;
  // The wide route: at most 259 UTF-16 units, else an empty path.
  std::u16string wide;
  try {
    wide = os::AnsiToUtf16(Path);
  } catch (const Exception&) {
    wide.clear();
  }
  if (wide.size() > 259) wide.clear();
  std::optional<uint32_t> attributes = os::FileQuery().GetFileAttributesWide(wide);
  return attributes && (*attributes & os::FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool IsSafeProductName(const AnsiString& name) {
  for (size_t i = 0; i < name.size();) {
    size_t next = CharNext(name, i);
    if (next == i + 1) {
      unsigned char c = static_cast<unsigned char>(name[i]);
      if (c < 0x20 || c == 0x7F || c == '\\' || c == '/' || c == ':') return false;
    }
    i = next;
  }
  // With no separator allowed the whole name is one segment.
  return name != "..";
}

AnsiString FindProgramPath(const AnsiString& ProductName, const AnsiString& ExecutableName,
                           const AnsiString& SelectorFolder) {
  std::optional<os::TRegistryKey> key =
      os::Registry().OpenClassesRootKey(AnsiString(RegistryKeyPrefix) + ProductName);
  if (key) {
    AnsiString value = os::ReadRegistryString(*key, "");
    if (IsExistingFile(value)) return value;
  }
  return SelectorFolder + ProductName + "\\" + kProgramFolder + "\\" + ExecutableName;
}

void LaunchProgram(const AnsiString& ProgramPath, const AnsiString& DocumentPath) {
  if (!IsExistingFile(ProgramPath)) return;
  AnsiString commandLine = ProgramPath + " \"" + DocumentPath + "\"";
  os::Process().StartProgram(ProgramPath, commandLine, os::SW_SHOW);
}

int RunLauncher(const TProductNameReader& ReadProductName) {
  const AnsiString documentPath = ExtractDocumentPath(os::Process().CommandLine());
  AnsiString message;
  if (documentPath.size() > MaxDocumentPathLength) {
    message = AnsiString(kFileNameIs) + documentPath + "\r\n" + kLengthIs +
              IntToStr(int64_t(documentPath.size())) + "\r\n" + kNameTooLong;
  }
  if (!IsExistingFile(documentPath)) message += "\r\n" + documentPath + "\r\n" + kCannotFind;
  if (!message.empty()) {
    os::MessageBox().Show(message + "\r\n" + kCheckAndRetry, MessageCaption, os::MB_ICONERROR);
    return 1;
  }
  const AnsiString selectorFolder = os::Process().ExecutableFolder();
  const AnsiString productName = ReadProductName(documentPath);
  AnsiString programPath;
  // A product name that could leave the install folder is looked up nowhere.
  if (IsSafeProductName(productName)) {
    programPath = FindProgramPath(productName, DefaultExecutableName, selectorFolder);
    if (!IsExistingFile(programPath)) programPath.clear();
  }
  if (programPath.empty()) {
    os::MessageBox().Show(AnsiString(kNotInstalled) + productName + kCannotOpen, MessageCaption,
                          os::MB_ICONERROR);
    return 1;
  }
  LaunchProgram(programPath, documentPath);
  return 0;
}

}  // namespace zk
