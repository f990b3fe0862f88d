// Reading HKEY_CLASSES_ROOT. On POSIX the classes root is read from regedit
// export files ("Windows Registry Editor Version 5.00", UTF-8 or UTF-16LE with
// a byte-order mark): /etc/ZKselector/registry.reg, then
// ${XDG_CONFIG_HOME:-$HOME/.config}/ZKselector/registry.reg, whose keys
// replace the same keys of the system file. Key names match
// case-insensitively. Texts are handed out in the ANSI code page.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/os/Service.h"
#include "platform/rtl/Exception.h"

namespace zk::os {

class ERegistryException : public Exception {
 public:
  using Exception::Exception;
};

// One value as stored: text types (REG_SZ, REG_EXPAND_SZ) keep their text,
// every other type only its kind.
struct TRegistryValue {
  enum TKind { rdString, rdExpandString, rdInteger, rdBinary, rdUnknown };
  TKind Kind = rdString;
  AnsiString Text;
};

// The values of one key; the default (unnamed) value has the name "".
using TRegistryKey = std::map<AnsiString, TRegistryValue>;

class IRegistry {
 public:
  virtual ~IRegistry() = default;
  // Opens a key below HKEY_CLASSES_ROOT read-only; nothing when it does not
  // exist. The key is never created.
  virtual std::optional<TRegistryKey> OpenClassesRootKey(const AnsiString& KeyName) = 0;

  static IRegistry& Default();
};

inline IRegistry& Registry() {
  return TService<IRegistry>::Get();
}

// A value read as text: "" when missing; ERegistryException "Invalid data
// type for '<name>'" when it is of a non-text type.
AnsiString ReadRegistryString(const TRegistryKey& Key, const AnsiString& Name);

// The keys of one regedit export text (its raw bytes), root prefix
// "HKEY_CLASSES_ROOT\" removed; keys of other roots are left out. Keys are
// upper-cased (ANSI) for case-insensitive look-up. A "[-KEY]" line records the
// key as deleted (an entry without value in Deleted). Malformed lines are
// skipped; a text without the editor header gives no keys.
struct TRegistryFile {
  std::map<AnsiString, TRegistryKey> Keys;
  std::vector<AnsiString> Deleted;
};
TRegistryFile ParseRegistryFile(const std::string& Bytes);

// The classes root of several files layered in order (later files win).
class TLayeredRegistry : public IRegistry {
 public:
  void AddFile(const TRegistryFile& File);
  std::optional<TRegistryKey> OpenClassesRootKey(const AnsiString& KeyName) override;

 private:
  std::map<AnsiString, TRegistryKey> FKeys;
};

}  // namespace zk::os
