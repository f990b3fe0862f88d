// HKEY_CLASSES_ROOT on POSIX: the system and the user's regedit export files,
// read afresh at each key opening so that a changed file is seen at once.
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/os/Registry.h"

namespace zk::os {

namespace {

bool ReadWholeFile(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  out = buffer.str();
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
