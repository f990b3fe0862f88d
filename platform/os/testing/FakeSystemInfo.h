// Test double of the system information: a settable version report and
// available memory.
#pragma once

#include "platform/os/SystemInfo.h"

namespace zk::os::testing {

class TFakeSystemInfo : public ISystemInfo {
 public:
  TOSVersion Version{10, 0, PlatformWin32NT};
  uint64_t AvailableMemory = uint64_t{1} << 30;

  TOSVersion OSVersion() override { return Version; }
  uint64_t AvailablePhysicalMemory() override { return AvailableMemory; }
};

}  // namespace zk::os::testing
