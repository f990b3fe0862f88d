// Questions about the running system: its version in the terms of the
// system's own version report (major, minor, platform family) and the
// physical memory still available. Owns nothing.
#pragma once

#include <cstdint>

#include "platform/os/Service.h"

namespace zk::os {

// Platform families of a version report.
constexpr uint32_t PlatformWin32s = 0;
constexpr uint32_t PlatformWin32Windows = 1;  // the consumer (9x) family
constexpr uint32_t PlatformWin32NT = 2;

struct TOSVersion {
  uint32_t Major = 0;
  uint32_t Minor = 0;
  uint32_t PlatformId = PlatformWin32NT;
};

class ISystemInfo {
 public:
  virtual ~ISystemInfo() = default;
  // The version the system reports. POSIX reports a current NT-family system.
  virtual TOSVersion OSVersion() = 0;
  // Bytes of physical memory available now (0 when unknown).
  virtual uint64_t AvailablePhysicalMemory() = 0;

  static ISystemInfo& Default();
};

inline ISystemInfo& SystemInfo() {
  return TService<ISystemInfo>::Get();
}

}  // namespace zk::os
