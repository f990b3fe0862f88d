// The two file tests the launcher makes: the ordinary file-exists test on an
// ANSI path (a regular file; a folder does not count) and the wide-character
// attribute query (UTF-16 path; its attributes or nothing when it fails).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/os/Service.h"
#include "platform/rtl/AnsiString.h"

namespace zk::os {

constexpr uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;

class IFileQuery {
 public:
  virtual ~IFileQuery() = default;
  virtual bool FileExists(const AnsiString& Path) = 0;
  virtual std::optional<uint32_t> GetFileAttributesWide(const std::u16string& Path) = 0;

  static IFileQuery& Default();
};

inline IFileQuery& FileQuery() {
  return TService<IFileQuery>::Get();
}

}  // namespace zk::os
