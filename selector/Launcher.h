// The document launcher: takes the document path from the command line,
// reads the document's product name, finds the installed pricing program for
// it (registry, then the default install path) and starts it with the
// document; every problem it detects ends in one message box.
#pragma once

#include <functional>
#include <string_view>

#include "platform/rtl/AnsiString.h"

namespace zk {

constexpr size_t MaxDocumentPathLength = 255;
extern const char* const RegistryKeyPrefix;      // "selector_ZK.Document\"
extern const char* const DefaultExecutableName;  // "zk2016.exe"
extern const char* const MessageCaption;         // "提示" (GBK)

// The whole rest of the command line after the program's own path, trimmed,
// with one enclosing pair of double quotes removed.
AnsiString ExtractDocumentPath(std::string_view CommandLine);

// True when the ordinary file test or, failing that, the wide attribute query
// finds a file (not a folder) at Path.
bool IsExistingFile(const AnsiString& Path);

// True when a product name may be used to look a program up: no '\', '/',
// ':', control character or ".." segment (checked by GBK character).
bool IsSafeProductName(const AnsiString& ProductName);

// The program for a product: the registry's default value of
// HKEY_CLASSES_ROOT\selector_ZK.Document\<product> when it names an existing
// file, else SelectorFolder + product + "\计价程序\" + ExecutableName.
AnsiString FindProgramPath(const AnsiString& ProductName, const AnsiString& ExecutableName,
                           const AnsiString& SelectorFolder);

// Starts ProgramPath + " \"" + DocumentPath + "\"" when the program exists.
void LaunchProgram(const AnsiString& ProgramPath, const AnsiString& DocumentPath);

// Reads [FILEINFO] ProductName from the document (through the profile store).
using TProductNameReader = std::function<AnsiString(const AnsiString& DocumentPath)>;

// The main sequence. Returns 0 after a launch (or an ignored failed start),
// 1 after a message box. Errors of the profile store propagate.
int RunLauncher(const TProductNameReader& ReadProductName);

}  // namespace zk
