#include "platform/rtl/IniFile.h"

#include <cstdint>

namespace zk {

int32_t StrToIntDef(std::string_view Text, int32_t Default) {
  size_t i = 0;
  while (i < Text.size() && (Text[i] == ' ' || Text[i] == '\t'))
    ++i;
  bool negative = false;
  if (i < Text.size() && (Text[i] == '+' || Text[i] == '-'))
    negative = Text[i++] == '-';
  int base = 10;
  if (i < Text.size() && Text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < Text.size() && Text[i] == '0' &&
             (Text[i + 1] == 'x' || Text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == Text.size())
    return Default;
  uint64_t value = 0;
  for (; i < Text.size(); ++i) {
    const char c = Text[i];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return Default;
    }
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    if (value > 0xFFFFFFFFull)
      return Default;
  }
  if (base == 16) {
    const auto bits = static_cast<uint32_t>(value);
    const auto word = static_cast<int32_t>(bits);
    return negative ? static_cast<int32_t>(0u - bits) : word;
  }
  if (negative)
    return value > 0x80000000ull
               ? Default
               : static_cast<int32_t>(-static_cast<int64_t>(value));
  return value > 0x7FFFFFFFull ? Default : static_cast<int32_t>(value);
}

int32_t TCustomIniFile::ReadInteger(const AnsiString &Section,
                                    const AnsiString &Ident, int32_t Default) {
  return StrToIntDef(ReadString(Section, Ident, AnsiString()), Default);
}

void TCustomIniFile::WriteInteger(const AnsiString &Section,
                                  const AnsiString &Ident, int32_t Value) {
  WriteString(Section, Ident, IntToStr(Value));
}

bool TCustomIniFile::ReadBool(const AnsiString &Section,
                              const AnsiString &Ident, bool Default) {
  return ReadInteger(Section, Ident, Default ? 1 : 0) != 0;
}

void TCustomIniFile::WriteBool(const AnsiString &Section,
                               const AnsiString &Ident, bool Value) {
  WriteString(Section, Ident, Value ? "1" : "0");
}

bool TCustomIniFile::SectionExists(const AnsiString &Section) {
  TStringList keys;
  ReadSection(Section, keys);
  return keys.Count() > 0;
}

bool TCustomIniFile::ValueExists(const AnsiString &Section,
                                 const AnsiString &Ident) {
  TStringList keys;
  ReadSection(Section, keys);
  return keys.IndexOf(Ident) >= 0;
}

} // namespace zk
