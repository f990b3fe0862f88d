// Texts at the boundary of the sfs tool: the UTF-8 of the command line and the
// terminal against the GBK of the container; container paths as the user
// writes them (/a/b, a\b) against the engine's (\a\b); time stamps, sizes and
// compression method names. ESfsError is the tool's own error (exit status 1)
// with a UTF-8 text. Nothing here owns state.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/rtl/AnsiString.h"

namespace zk::sfs {

// An error the tool reports as "sfs: <text>" with exit status 1. UTF-8.
class ESfsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// UTF-8 -> GBK; a text that GBK cannot hold raises ESfsError naming What.
AnsiString ToAnsi(std::string_view Utf8, std::string_view What);
// GBK -> UTF-8 for the terminal; bytes that are no GBK text are shown as
// \xNN instead of failing.
std::string ToDisplay(std::string_view Ansi);
// GBK -> UTF-8; false when the text is no GBK text.
bool TryToUtf8(std::string_view Ansi, std::string& Utf8);
// The text in double quotes for messages.
std::string Quoted(std::string_view Utf8);

// The longest name the directory keeps (bytes of GBK).
inline constexpr size_t MaxItemNameLength = 259;

// A path inside a container: its names from the root down (GBK).
struct TContainerPath {
  std::vector<AnsiString> Names;
  // The user wrote a separator at the end ("dir/"): the path names a folder.
  bool TrailingSeparator = false;

  bool IsRoot() const { return Names.empty(); }
  // "\" for the root, else "\a\b" (the engine's form).
  AnsiString Engine() const;
  // "/" for the root, else "/a/b" (UTF-8, for messages and listings).
  std::string Display() const;
  TContainerPath Parent() const;
  const AnsiString& Name() const { return Names.back(); }
  TContainerPath Child(const AnsiString& Name) const;
};

// Parses a container path as the user writes it (UTF-8; "/" and "\" both
// separate; every path starts at the root; "." is skipped and ".." goes up,
// staying at the root). Each name is checked with CheckItemName.
TContainerPath ParseContainerPath(std::string_view Utf8);
// Raises ESfsError when Name (GBK) cannot be stored as one name: empty, "."
// or "..", longer than 259 bytes, holding a separator or a control character.
// A folder name also may not hold "*" or "?", which the engine's folder test
// takes as wildcards.
void CheckItemName(const AnsiString& Name, bool IsFolder, std::string_view Where);

// "\a\b" -> "/a/b" (UTF-8), the root "\" -> "/".
std::string DisplayEnginePath(const AnsiString& EnginePath);

// A UTC file time (100 ns since 1601) as ISO 8601 "YYYY-MM-DDTHH:MM:SSZ"; "-"
// for a time outside the years 1601 to 9999.
std::string FileTimeToIso(int64_t FileTime);
// Seconds since 1970 (UTC) as a file time, and back.
int64_t UnixToFileTime(int64_t Seconds, int64_t Nanoseconds = 0);
int64_t FileTimeToUnix(int64_t FileTime);

// A compression method given as a code 0-9 or by name (stored, zlib-fast,
// zlib, ppm, ppm-best, zlib-best, ppm-fast, bzip2-fast, bzip2, bzip2-best).
// Raises EUsageError for anything else.
uint8_t ParseCompression(std::string_view Text);
// "2 (zlib, normal)" and the like; "n (unknown)" for codes above 9.
std::string CompressionName(uint8_t Method);
// A size or count: decimal digits with an optional K, M or G (binary
// multiples). Raises EUsageError naming Option for anything else or for a
// value outside Min..Max.
int64_t ParseSize(std::string_view Text, std::string_view Option, int64_t Min, int64_t Max);

}  // namespace zk::sfs
