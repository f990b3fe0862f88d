#include "tools/sfs/ToolText.h"

#include <cctype>
#include <cstdio>
#include <limits>

#include "platform/os/AnsiCodePage.h"
#include "tools/sfs/CommandLine.h"

namespace zk::sfs {

AnsiString ToAnsi(std::string_view Utf8, std::string_view What) {
  AnsiString ansi;
  if (!os::TryUtf8ToAnsi(Utf8, ansi))
    throw ESfsError(std::string(What) + " " + Quoted(Utf8) +
                    " cannot be represented in the container's code page (GBK)");
  return ansi;
}

bool TryToUtf8(std::string_view Ansi, std::string& Utf8) {
  return os::TryAnsiToUtf8(Ansi, Utf8);
}

std::string ToDisplay(std::string_view Ansi) {
  std::string utf8;
  if (os::TryAnsiToUtf8(Ansi, utf8)) return utf8;
  // Convert character by character; show what is no GBK text as \xNN.
  std::string shown;
  size_t i = 0;
  while (i < Ansi.size()) {
    const size_t next = CharNext(Ansi, i);
    std::string piece;
    if (os::TryAnsiToUtf8(Ansi.substr(i, next - i), piece) && !piece.empty()) {
      shown += piece;
    } else {
      for (size_t k = i; k < next; ++k) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(Ansi[k]));
        shown += hex;
      }
    }
    i = next;
  }
  return shown;
}

std::string Quoted(std::string_view Utf8) {
  return "\"" + std::string(Utf8) + "\"";
}

// --- Container paths ---

AnsiString TContainerPath::Engine() const {
  if (Names.empty()) return "\\";
  AnsiString path;
  for (const AnsiString& name : Names) path += "\\" + name;
  return path;
}

std::string TContainerPath::Display() const {
  if (Names.empty()) return "/";
  std::string path;
  for (const AnsiString& name : Names) path += "/" + ToDisplay(name);
  return path;
}

TContainerPath TContainerPath::Parent() const {
  TContainerPath parent;
  parent.Names.assign(Names.begin(), Names.empty() ? Names.end() : Names.end() - 1);
  return parent;
}

TContainerPath TContainerPath::Child(const AnsiString& Name) const {
  TContainerPath child;
  child.Names = Names;
  child.Names.push_back(Name);
  return child;
}

void CheckItemName(const AnsiString& Name, bool IsFolder, std::string_view Where) {
  const std::string shown = Quoted(ToDisplay(Name));
  auto refuse = [&](const std::string& Why) {
    throw ESfsError(std::string(Where) + (Where.empty() ? "" : ": ") + "the name " + shown +
                    " cannot be stored in a container: " + Why);
  };
  if (Name.empty()) refuse("it is empty");
  if (Name == "." || Name == "..") refuse("it names a folder of the path");
  if (Name.size() > MaxItemNameLength)
    refuse("it is longer than " + std::to_string(MaxItemNameLength) + " bytes in GBK");
  for (size_t i = 0; i < Name.size(); i = CharNext(Name, i)) {
    const unsigned char c = static_cast<unsigned char>(Name[i]);
    if (IsLeadByte(c)) continue;
    if (c == '\\' || c == '/') refuse("it holds a path separator");
    if (c < 0x20 || c == 0x7F) refuse("it holds a control character");
    if (IsFolder && (c == '*' || c == '?')) refuse("a folder name may not hold '*' or '?'");
  }
}

TContainerPath ParseContainerPath(std::string_view Utf8) {
  TContainerPath path;
  size_t start = 0;
  // UTF-8 has no trail byte below 0x80, so splitting the UTF-8 text is safe.
  while (start <= Utf8.size()) {
    size_t end = Utf8.find_first_of("/\\", start);
    if (end == std::string_view::npos) end = Utf8.size();
    const std::string_view name = Utf8.substr(start, end - start);
    if (name == "..") {
      if (!path.Names.empty()) path.Names.pop_back();
    } else if (!name.empty() && name != ".") {
      AnsiString ansi = ToAnsi(name, "the name");
      CheckItemName(ansi, false, "");
      path.Names.push_back(std::move(ansi));
    }
    start = end + 1;
  }
  path.TrailingSeparator = !Utf8.empty() && (Utf8.back() == '/' || Utf8.back() == '\\');
  return path;
}

std::string DisplayEnginePath(const AnsiString& EnginePath) {
  // The conversion comes first: a GBK trail byte may be 0x5C. Control
  // characters (only a damaged record holds them) are shown escaped, so that
  // every item stays on one line of a listing.
  std::string shown;
  for (const char c : ToDisplay(EnginePath)) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '\\') {
      shown += '/';
    } else if (u < 0x20 || u == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", u);
      shown += hex;
    } else {
      shown += c;
    }
  }
  return shown;
}

// --- Time stamps ---

namespace {

constexpr int64_t FileTimeUnixEpoch = 116444736000000000LL;  // 1970-01-01 as a file time
constexpr int64_t TicksPerSecond = 10000000;

// Days since 1970-01-01 -> civil date (proleptic Gregorian).
void CivilFromDays(int64_t Days, int64_t& Year, unsigned& Month, unsigned& Day) {
  Days += 719468;
  const int64_t era = (Days >= 0 ? Days : Days - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(Days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  Day = doy - (153 * mp + 2) / 5 + 1;
  Month = mp < 10 ? mp + 3 : mp - 9;
  Year = static_cast<int64_t>(yoe) + era * 400 + (Month <= 2 ? 1 : 0);
}

}  // namespace

std::string FileTimeToIso(int64_t FileTime) {
  // 9999-12-31T23:59:59Z is 2650467743999999999 ticks.
  if (FileTime < 0 || FileTime > 2650467743999999999LL) return "-";
  const int64_t seconds = FileTime / TicksPerSecond - FileTimeUnixEpoch / TicksPerSecond;
  int64_t days = seconds / 86400;
  int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  int64_t year;
  unsigned month, day;
  CivilFromDays(days, year, month, day);
  char text[32];
  std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02lld:%02lld:%02lldZ",
                static_cast<long long>(year), month, day, static_cast<long long>(rest / 3600),
                static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
  return text;
}

int64_t UnixToFileTime(int64_t Seconds, int64_t Nanoseconds) {
  return Seconds * TicksPerSecond + Nanoseconds / 100 + FileTimeUnixEpoch;
}

int64_t FileTimeToUnix(int64_t FileTime) {
  const int64_t ticks = FileTime - FileTimeUnixEpoch;
  return ticks >= 0 ? ticks / TicksPerSecond : -((-ticks + TicksPerSecond - 1) / TicksPerSecond);
}

// --- Compression methods and sizes ---

namespace {

struct TMethodName {
  const char* Name;
  const char* Description;
};
constexpr TMethodName MethodNames[10] = {{"stored", "stored"},       {"zlib-fast", "zlib, fast"},
                                         {"zlib", "zlib, normal"},   {"ppm", "PPM, normal"},
                                         {"ppm-best", "PPM, best"},  {"zlib-best", "zlib, best"},
                                         {"ppm-fast", "PPM, fast"},  {"bzip2-fast", "bzip2, fast"},
                                         {"bzip2", "bzip2, normal"}, {"bzip2-best", "bzip2, best"}};

}  // namespace

uint8_t ParseCompression(std::string_view Text) {
  if (Text.size() == 1 && Text[0] >= '0' && Text[0] <= '9')
    return static_cast<uint8_t>(Text[0] - '0');
  for (uint8_t m = 0; m < 10; ++m)
    if (Text == MethodNames[m].Name) return m;
  if (Text == "none" || Text == "store") return 0;
  std::string known;
  for (const TMethodName& n : MethodNames) known += std::string(known.empty() ? "" : ", ") + n.Name;
  throw EUsageError("unknown compression method " + Quoted(Text) + " (give 0-9 or one of " + known +
                    ")");
}

std::string CompressionName(uint8_t Method) {
  if (Method < 10) return std::to_string(Method) + " (" + MethodNames[Method].Description + ")";
  return std::to_string(Method) + " (unknown)";
}

int64_t ParseSize(std::string_view Text, std::string_view Option, int64_t Min, int64_t Max) {
  auto bad = [&]() -> EUsageError {
    return EUsageError("option '--" + std::string(Option) + "': invalid value " + Quoted(Text) +
                       " (give a whole number from " + std::to_string(Min) + " to " +
                       std::to_string(Max) + ", optionally with K, M or G)");
  };
  size_t digits = 0;
  while (digits < Text.size() && std::isdigit(static_cast<unsigned char>(Text[digits]))) ++digits;
  if (digits == 0 || digits > 18) throw bad();
  int64_t value = 0;
  for (size_t i = 0; i < digits; ++i) value = value * 10 + (Text[i] - '0');
  const std::string_view suffix = Text.substr(digits);
  int shift = 0;
  if (suffix == "K" || suffix == "k" || suffix == "KiB")
    shift = 10;
  else if (suffix == "M" || suffix == "m" || suffix == "MiB")
    shift = 20;
  else if (suffix == "G" || suffix == "g" || suffix == "GiB")
    shift = 30;
  else if (!suffix.empty())
    throw bad();
  if (value > (std::numeric_limits<int64_t>::max() >> shift)) throw bad();
  value <<= shift;
  if (value < Min || value > Max) throw bad();
  return value;
}

}  // namespace zk::sfs
