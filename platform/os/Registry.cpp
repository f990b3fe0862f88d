#include "platform/os/Registry.h"

#include "platform/os/AnsiCodePage.h"

namespace zk::os {

namespace {

const char kHeader[] = "Windows Registry Editor Version 5.00";
const char kRoot[] = "HKEY_CLASSES_ROOT";

// The export text as UTF-8 (UTF-16LE with BOM converted; a UTF-8 BOM dropped).
bool ToUtf8(const std::string& bytes, std::string& out) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    std::u16string units((bytes.size() - 2) / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
      units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 + 2 * i]) |
                                       (static_cast<unsigned char>(bytes[3 + 2 * i]) << 8));
    try {
      out = Utf16ToUtf8(units);
    } catch (const Exception&) {
      return false;
    }
    return true;
  }
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    out = bytes.substr(3);
  } else {
    out = bytes;
  }
  return true;
}

// Logical lines: CR LF or LF ends a line, a trailing backslash continues it
// (leading blanks of the continuation are dropped).
std::vector<std::string> LogicalLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string current;
  bool continuing = false;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (continuing) {
      size_t b = line.find_first_not_of(" \t");
      line = b == std::string::npos ? std::string() : line.substr(b);
    }
    const bool hexList = continuing || line.find("=hex") != std::string::npos;
    if (!line.empty() && line.back() == '\\' && hexList) {
      // Only hex value lists continue; a text value may end in a backslash.
      line.pop_back();
      current += line;
      continuing = true;
    } else {
      current += line;
      lines.push_back(current);
      current.clear();
      continuing = false;
    }
    start = end + 1;
  }
  if (!current.empty()) lines.push_back(current);
  return lines;
}

// A quoted text starting at text[i] == '"', with the \\ and \" escapes.
bool ParseQuoted(const std::string& text, size_t& i, std::string& out) {
  if (i >= text.size() || text[i] != '"') return false;
  ++i;
  out.clear();
  while (i < text.size()) {
    char c = text[i];
    if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"')) {
      out.push_back(text[i + 1]);
      i += 2;
    } else if (c == '"') {
      ++i;
      return true;
    } else {
      out.push_back(c);
      ++i;
    }
  }
  return false;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "41,00,42,00" to bytes.
bool ParseHexList(const std::string& text, std::string& out) {
  out.clear();
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == ',')) ++i;
    if (i >= text.size()) break;
    if (i + 1 >= text.size()) return false;
    int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out.push_back(static_cast<char>(hi * 16 + lo));
    i += 2;
  }
  return true;
}

bool Utf8ToAnsiChecked(const std::string& utf8, AnsiString& out) {
  return TryUtf8ToAnsi(utf8, out);
}

// The value part after '=': a text, hex(2): expandable text, or another type.
bool ParseValue(const std::string& text, TRegistryValue& value) {
  if (!text.empty() && text[0] == '"') {
    size_t i = 0;
    std::string utf8;
    if (!ParseQuoted(text, i, utf8)) return false;
    value.Kind = TRegistryValue::rdString;
    return Utf8ToAnsiChecked(utf8, value.Text);
  }
  if (text.rfind("hex(2):", 0) == 0) {
    std::string bytes;
    if (!ParseHexList(text.substr(7), bytes)) return false;
    std::u16string units(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
      units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                       (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    while (!units.empty() && units.back() == u'\0') units.pop_back();
    try {
      std::string utf8 = Utf16ToUtf8(units);
      value.Kind = TRegistryValue::rdExpandString;
      return Utf8ToAnsiChecked(utf8, value.Text);
    } catch (const Exception&) {
      return false;
    }
  }
  if (text.rfind("dword:", 0) == 0) {
    value.Kind = TRegistryValue::rdInteger;
    return true;
  }
  if (text.rfind("hex", 0) == 0) {
    value.Kind = TRegistryValue::rdBinary;
    return true;
  }
  return false;
}

}  // namespace

AnsiString ReadRegistryString(const TRegistryKey& Key, const AnsiString& Name) {
  auto it = Key.find(Name);
  if (it == Key.end()) return AnsiString();
  if (it->second.Kind != TRegistryValue::rdString &&
      it->second.Kind != TRegistryValue::rdExpandString)
    throw ERegistryException("Invalid data type for '" + Name + "'");
  return it->second.Text;
}

TRegistryFile ParseRegistryFile(const std::string& Bytes) {
  TRegistryFile result;
  std::string text;
  if (!ToUtf8(Bytes, text)) return result;
  std::vector<std::string> lines = LogicalLines(text);
  size_t first = 0;
  while (first < lines.size() && lines[first].find_first_not_of(" \t") == std::string::npos)
    ++first;
  if (first >= lines.size() || lines[first] != kHeader) return result;

  TRegistryKey* current = nullptr;
  for (size_t n = first + 1; n < lines.size(); ++n) {
    const std::string& line = lines[n];
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      current = nullptr;
      size_t close = line.rfind(']');
      if (close == std::string::npos) continue;
      std::string name = line.substr(1, close - 1);
      bool deleted = !name.empty() && name[0] == '-';
      if (deleted) name.erase(0, 1);
      AnsiString ansi;
      if (!Utf8ToAnsiChecked(name, ansi)) continue;
      AnsiString upper = AnsiUpperCase(ansi);
      const std::string root = kRoot;
      if (upper.compare(0, root.size(), root) != 0) continue;
      AnsiString sub = upper.size() > root.size() && upper[root.size()] == '\\'
                           ? upper.substr(root.size() + 1)
                           : (upper.size() == root.size() ? AnsiString() : AnsiString("\x01"));
      if (sub == "\x01") continue;  // another root that merely starts alike
      while (!sub.empty() && sub.back() == '\\') sub.pop_back();
      if (deleted) {
        result.Keys.erase(sub);
        result.Deleted.push_back(sub);
      } else {
        current = &result.Keys[sub];
      }
      continue;
    }
    if (!current) continue;
    std::string name;
    size_t i = 0;
    if (line[0] == '@') {
      i = 1;
    } else if (!ParseQuoted(line, i, name)) {
      continue;
    }
    if (i >= line.size() || line[i] != '=') continue;
    std::string valueText = line.substr(i + 1);
    AnsiString ansiName;
    if (!Utf8ToAnsiChecked(name, ansiName)) continue;
    if (valueText == "-") {
      current->erase(ansiName);
      continue;
    }
    TRegistryValue value;
    if (!ParseValue(valueText, value)) continue;
    (*current)[ansiName] = value;
  }
  return result;
}

void TLayeredRegistry::AddFile(const TRegistryFile& File) {
  for (const AnsiString& gone : File.Deleted) FKeys.erase(gone);
  for (const auto& [name, key] : File.Keys) FKeys[name] = key;
}

std::optional<TRegistryKey> TLayeredRegistry::OpenClassesRootKey(const AnsiString& KeyName) {
  AnsiString upper = AnsiUpperCase(KeyName);
  while (!upper.empty() && upper.back() == '\\') upper.pop_back();
  auto it = FKeys.find(upper);
  if (it == FKeys.end()) return std::nullopt;
  return it->second;
}

}  // namespace zk::os
