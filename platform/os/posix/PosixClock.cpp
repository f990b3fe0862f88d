// The clock on POSIX: clock_gettime for UTC and the counter, the C library's
// local time for the time-zone offset.
#include <cstdint>
#include <ctime>

#include "platform/os/Clock.h"

namespace zk::os {

namespace {
class TPosixClock final : public IClock {
 public:
  int64_t UtcNowFileTime() override {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return UnixEpochFileTime + static_cast<int64_t>(ts.tv_sec) * 10000000 + ts.tv_nsec / 100;
  }
  int64_t UtcToLocalFileTime(int64_t utc) override { return Shift(utc, OffsetAt(ToUnix(utc))); }
  int64_t LocalToUtcFileTime(int64_t local) override {
    // The offset at the local instant taken as UTC, then corrected once.
    int64_t guess = Shift(local, -OffsetAt(ToUnix(local)));
    return Shift(local, -OffsetAt(ToUnix(guess)));
  }
  int64_t PerformanceCounter() override {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
  }
  int64_t PerformanceFrequency() override { return 1000000000; }

 private:
  // Any 64-bit file time, damaged ones included, converts without overflow:
  // the shift saturates at the ends of the range.
  static time_t ToUnix(int64_t fileTime) {
    return static_cast<time_t>(fileTime / 10000000 - UnixEpochFileTime / 10000000);
  }
  static int64_t Shift(int64_t fileTime, int64_t seconds) {
    int64_t delta = seconds * 10000000;  // |seconds| < 1 day: no overflow
    int64_t result = 0;
    if (__builtin_add_overflow(fileTime, delta, &result)) return delta > 0 ? INT64_MAX : INT64_MIN;
    return result;
  }
  // Seconds east of UTC at a moment.
  static int64_t OffsetAt(time_t when) {
    tm local{};
    if (!localtime_r(&when, &local)) return 0;
    return local.tm_gmtoff;
  }
};
}  // namespace

IClock& IClock::Default() {
  static TPosixClock clock;
  return clock;
}

}  // namespace zk::os
