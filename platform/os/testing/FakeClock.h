// Test doubles of the clock and the locale: a settable clock with a fixed
// time-zone offset, and a locale that reports any identifier (Turkish for the
// fixed collation tables) over the POSIX collation.
#pragma once

#include "platform/os/Clock.h"
#include "platform/os/Locale.h"

namespace zk::os::testing {

class TFakeClock : public IClock {
 public:
  int64_t Now = SystemTimeToFileTime(TSystemTime{2026, 12, 0, 11, 12, 0, 0, 0});
  int64_t OffsetSeconds = 8 * 3600;
  int64_t Counter = 0;

  int64_t UtcNowFileTime() override { return Now; }
  int64_t UtcToLocalFileTime(int64_t utc) override { return utc + OffsetSeconds * 10000000; }
  int64_t LocalToUtcFileTime(int64_t local) override { return local - OffsetSeconds * 10000000; }
  int64_t PerformanceCounter() override { return Counter; }
  int64_t PerformanceFrequency() override { return 1000000000; }
};

class TFakeLocale : public ILocale {
 public:
  uint32_t LocaleId = LocaleChinesePRC;

  uint32_t UserDefaultLocale() override { return LocaleId; }
  int CompareOneChar(unsigned char a, unsigned char b) override {
    return ILocale::Default().CompareOneChar(a, b);
  }
  int CompareTextIgnoreCase(std::string_view a, std::string_view b) override {
    return ILocale::Default().CompareTextIgnoreCase(a, b);
  }
  unsigned char UpperChar(unsigned char c) override { return ILocale::Default().UpperChar(c); }
};

}  // namespace zk::os::testing
