// The user's locale: its identifier, the one-character collation the name
// tables are built from, the case-insensitive fallback comparison and ANSI
// upper-casing. The POSIX stand-in is Chinese PRC (2052, code page 936).
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/os/Service.h"

namespace zk::os {

constexpr uint32_t LocaleChinesePRC = 2052;
constexpr uint32_t LocaleTurkish = 1055;

class ILocale {
 public:
  virtual ~ILocale() = default;
  virtual uint32_t UserDefaultLocale() = 0;
  // Case-sensitive comparison of two one-character strings in the user
  // locale: negative, zero or positive.
  virtual int CompareOneChar(unsigned char a, unsigned char b) = 0;
  // Case-insensitive comparison of two texts in the user locale.
  virtual int CompareTextIgnoreCase(std::string_view a, std::string_view b) = 0;
  // The ANSI upper-case form of one single-byte character.
  virtual unsigned char UpperChar(unsigned char c) = 0;

  static ILocale& Default();
};

inline ILocale& Locale() {
  return TService<ILocale>::Get();
}

}  // namespace zk::os
