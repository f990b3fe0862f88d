// The launcher's file tests on POSIX: stat on the path in UTF-8 with '/'
// separators.
#include <sys/stat.h>

#include "platform/os/AnsiCodePage.h"
#include "platform/os/FileQuery.h"
#include "platform/rtl/Exception.h"

namespace zk::os {

namespace {

std::optional<struct stat> StatHost(std::string utf8) {
  for (char& c : utf8)
    if (c == '\\') c = '/';
  if (utf8.empty()) return std::nullopt;
  struct stat st {};
  if (stat(utf8.c_str(), &st) != 0) return std::nullopt;
  return st;
}

class TPosixFileQuery final : public IFileQuery {
 public:
  bool FileExists(const AnsiString& Path) override {
    std::string utf8;
    if (!TryAnsiToUtf8(Path, utf8)) return false;
    auto st = StatHost(utf8);
    return st && S_ISREG(st->st_mode);
  }
  std::optional<uint32_t> GetFileAttributesWide(const std::u16string& Path) override {
    std::string utf8;
    try {
      utf8 = Utf16ToUtf8(Path);
    } catch (const Exception&) {
      return std::nullopt;
    }
    auto st = StatHost(utf8);
    if (!st) return std::nullopt;
    return S_ISDIR(st->st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
  }
};

}  // namespace

IFileQuery& IFileQuery::Default() {
  static TPosixFileQuery query;
  return query;
}

}  // namespace zk::os
