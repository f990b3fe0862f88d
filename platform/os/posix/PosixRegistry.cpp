// HKEY_CLASSES_ROOT on POSIX: the system and the user's regedit export files,
// read afresh at each key opening so that a changed file is seen at once.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/os/AnsiCodePage.h"
#include "platform/os/Registry.h"

namespace zk::os {

namespace {

// No export of the classes root comes near this; a larger file is refused
// rather than read into memory.
constexpr int64_t MaxRegistryFileSize = 64 * 1024 * 1024;

// The bytes of a registry file. Only a regular file counts: a FIFO or a device
// (which a plain open would wait on, or read without end) is taken as absent.
bool ReadWholeFile(const std::string& path, std::string& out) {
  out.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  struct TCloser {
    int Fd;
    ~TCloser() { ::close(Fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  auto tooLarge = [&](int64_t size) {
    AnsiString name;
    if (!TryUtf8ToAnsi(path, name)) name = path;
    return ERegistryException("TPosixRegistry.ReadFile - file too large, file name = " +
                              QuoteText(name) + ", size = " + IntToStr(size));
  };
  if (st.st_size > MaxRegistryFileSize) throw tooLarge(st.st_size);
  // Read as it arrives: the file may change under the reader.
  char buffer[64 * 1024];
  while (true) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (got == 0) break;
    out.append(buffer, static_cast<size_t>(got));
    if (static_cast<int64_t>(out.size()) > MaxRegistryFileSize)
      throw tooLarge(static_cast<int64_t>(out.size()));
  }
  return true;
}

std::string UserRegistryPath() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (xdg && *xdg) {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || !*home) return std::string();
    base = std::string(home) + "/.config";
  }
  return base + "/ZKselector/registry.reg";
}

class TPosixRegistry final : public IRegistry {
 public:
  std::optional<TRegistryKey> OpenClassesRootKey(const AnsiString& KeyName) override {
    TLayeredRegistry layers;
    std::string bytes;
    if (ReadWholeFile("/etc/ZKselector/registry.reg", bytes))
      layers.AddFile(ParseRegistryFile(bytes));
    std::string user = UserRegistryPath();
    if (!user.empty() && ReadWholeFile(user, bytes)) layers.AddFile(ParseRegistryFile(bytes));
    return layers.OpenClassesRootKey(KeyName);
  }
};

}  // namespace

IRegistry& IRegistry::Default() {
  static TPosixRegistry registry;
  return registry;
}

}  // namespace zk::os
