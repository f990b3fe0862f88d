// The operating system's entropy source: unpredictable bytes for seeding the
// run-time library's random generator.
#pragma once

#include <cstddef>

#include "platform/os/Service.h"

namespace zk::os {

class IEntropy {
 public:
  virtual ~IEntropy() = default;
  // Fills Size bytes at Buffer; false when the source could not deliver all
  // of them (the buffer's contents are then unspecified).
  virtual bool FillEntropy(void* buffer, size_t size) = 0;

  static IEntropy& Default();
};

inline IEntropy& Entropy() {
  return TService<IEntropy>::Get();
}

}  // namespace zk::os
