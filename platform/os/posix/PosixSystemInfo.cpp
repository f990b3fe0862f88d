// The system on POSIX: reported as a current NT-family system (version 10.0),
// available memory from sysconf.
#include <unistd.h>

#include "platform/os/SystemInfo.h"

namespace zk::os {

namespace {
class TPosixSystemInfo final : public ISystemInfo {
 public:
  TOSVersion OSVersion() override { return TOSVersion{10, 0, PlatformWin32NT}; }
  uint64_t AvailablePhysicalMemory() override {
    long pages = ::sysconf(_SC_AVPHYS_PAGES);
    long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return 0;
    return static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize);
  }
};
}  // namespace

ISystemInfo& ISystemInfo::Default() {
  static TPosixSystemInfo info;
  return info;
}

}  // namespace zk::os
