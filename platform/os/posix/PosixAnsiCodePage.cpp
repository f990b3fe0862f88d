// GBK <-> UTF-8 through iconv. Each call opens its own descriptor, so the
// conversions are safe from any thread.
#include <iconv.h>

#include <cerrno>
#include <memory>

#include "platform/os/AnsiCodePage.h"
#include "platform/rtl/Exception.h"

namespace zk::os {

namespace {
bool Convert(const char* to, const char* from, std::string_view in, std::string& out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::unique_ptr<void, int (*)(iconv_t)> guard(cd, iconv_close);
  out.clear();
  if (in.empty()) return true;
  std::string buffer(in.size() * 4 + 16, '\0');
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  size_t written = 0;
  while (srcLeft > 0) {
    char* dst = buffer.data() + written;
    size_t dstLeft = buffer.size() - written;
    size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    written = buffer.size() - dstLeft;
    if (r == static_cast<size_t>(-1)) {
      if (errno == E2BIG) {
        buffer.resize(buffer.size() * 2);
        continue;
      }
      return false;  // EILSEQ or EINVAL: not representable or cut short
    }
  }
  buffer.resize(written);
  out = std::move(buffer);
  return true;
}
}  // namespace

bool TryUtf8ToAnsi(std::string_view utf8, AnsiString& out) {
  return Convert("GBK", "UTF-8", utf8, out);
}
bool TryAnsiToUtf8(std::string_view ansi, std::string& out) {
  return Convert("UTF-8", "GBK", ansi, out);
}

AnsiString Utf8ToAnsi(std::string_view utf8) {
  AnsiString out;
  if (!TryUtf8ToAnsi(utf8, out))
    throw Exception("The text " + QuoteText(utf8) +
                    " cannot be represented in the ANSI code page (GBK).");
  return out;
}

std::string AnsiToUtf8(std::string_view ansi) {
  std::string out;
  if (!TryAnsiToUtf8(ansi, out))
    throw Exception("A text is not valid in the ANSI code page (GBK).");
  return out;
}

std::u16string AnsiToUtf16(std::string_view ansi) {
  std::string bytes;
  if (!Convert("UTF-16LE", "GBK", ansi, bytes))
    throw Exception("A text is not valid in the ANSI code page (GBK).");
  std::u16string out(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                   (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string bytes(utf16.size() * 2, '\0');
  for (size_t i = 0; i < utf16.size(); ++i) {
    bytes[2 * i] = static_cast<char>(utf16[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<char>(utf16[i] >> 8);
  }
  std::string out;
  if (!Convert("UTF-8", "UTF-16LE", bytes, out)) throw Exception("A text is not valid UTF-16.");
  return out;
}

}  // namespace zk::os
