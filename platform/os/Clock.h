// The clock interface: UTC time, local-time conversion, file times (100-ns
// units since 1601-01-01 UTC) and the high-resolution performance counter.
#pragma once

#include <cstdint>

#include "platform/os/Service.h"

namespace zk::os {

// A broken-down time, as the system's time calls give it.
struct TSystemTime {
  uint16_t Year = 1601;
  uint16_t Month = 1;      // 1..12
  uint16_t DayOfWeek = 0;  // 0 = Sunday
  uint16_t Day = 1;        // 1..31
  uint16_t Hour = 0;
  uint16_t Minute = 0;
  uint16_t Second = 0;
  uint16_t Milliseconds = 0;
};

// File time of the Unix epoch.
constexpr int64_t UnixEpochFileTime = 116444736000000000LL;

class IClock {
 public:
  virtual ~IClock() = default;
  // Now, in UTC, as a file time.
  virtual int64_t UtcNowFileTime() = 0;
  // A file time in UTC to the same instant in local time, and back.
  virtual int64_t UtcToLocalFileTime(int64_t utc) = 0;
  virtual int64_t LocalToUtcFileTime(int64_t local) = 0;
  // A monotonic high-resolution counter and its ticks per second.
  virtual int64_t PerformanceCounter() = 0;
  virtual int64_t PerformanceFrequency() = 0;

  static IClock& Default();
};

inline IClock& Clock() {
  return TService<IClock>::Get();
}

// Calendar conversions of file times (no time zone involved).
TSystemTime FileTimeToSystemTime(int64_t fileTime);
int64_t SystemTimeToFileTime(const TSystemTime& time);

// Now in UTC as a broken-down time.
inline TSystemTime UtcNow() {
  return FileTimeToSystemTime(Clock().UtcNowFileTime());
}

}  // namespace zk::os
