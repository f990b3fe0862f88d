// The clock on POSIX: clock_gettime for UTC and the counter, the C library's
// local time for the time-zone offset.
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
  int64_t UtcToLocalFileTime(int64_t utc) override {
    return utc + OffsetAt(ToUnix(utc)) * 10000000;
  }
  int64_t LocalToUtcFileTime(int64_t local) override {
    // The offset at the local instant taken as UTC, then corrected once.
    int64_t guess = local - OffsetAt(ToUnix(local)) * 10000000;
    return local - OffsetAt(ToUnix(guess)) * 10000000;
  }
  int64_t PerformanceCounter() override {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
  }
  int64_t PerformanceFrequency() override { return 1000000000; }

 private:
  static time_t ToUnix(int64_t fileTime) {
    return static_cast<time_t>((fileTime - UnixEpochFileTime) / 10000000);
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
