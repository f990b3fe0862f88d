// The entropy source on POSIX: getrandom(2) from the kernel's pool.
#include <sys/random.h>

#include <cerrno>
#include <cstdint>

#include "platform/os/Entropy.h"

namespace zk::os {

namespace {
class TPosixEntropy final : public IEntropy {
 public:
  bool FillEntropy(void* buffer, size_t size) override {
    auto* out = static_cast<uint8_t*>(buffer);
    while (size > 0) {
      ssize_t got = getrandom(out, size, 0);
      if (got < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      if (got == 0) return false;
      out += got;
      size -= static_cast<size_t>(got);
    }
    return true;
  }
};
}  // namespace

IEntropy& IEntropy::Default() {
  static TPosixEntropy entropy;
  return entropy;
}

}  // namespace zk::os
