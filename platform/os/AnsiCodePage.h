// Conversion between the system's ANSI code page (GBK, code page 936) and the
// UTF-8 of the POSIX boundary: command-line arguments, host paths, registry
// files, terminal output. A text that cannot be converted raises
// zk::Exception naming the text's direction; nothing is substituted.
#pragma once

#include <string>
#include <string_view>

#include "platform/rtl/AnsiString.h"

namespace zk::os {

AnsiString Utf8ToAnsi(std::string_view utf8);
std::string AnsiToUtf8(std::string_view ansi);
// UTF-16 code units of an ANSI text (for the wide-character file calls).
std::u16string AnsiToUtf16(std::string_view ansi);
std::string Utf16ToUtf8(std::u16string_view utf16);

// Non-throwing forms: false when the text cannot be converted.
bool TryUtf8ToAnsi(std::string_view utf8, AnsiString& out);
bool TryAnsiToUtf8(std::string_view ansi, std::string& out);

}  // namespace zk::os
