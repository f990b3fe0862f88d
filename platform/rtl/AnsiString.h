// AnsiString, the system's 8-bit text type (bytes in the ANSI code page, GBK),
// and the small text helpers the run-time library offers: decimal formatting,
// quoting, GBK-aware character stepping, ASCII case folding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zk {

// Bytes in the ANSI code page. May hold NUL bytes: always carry the length.
using AnsiString = std::string;

// Decimal text of a signed or unsigned integer.
AnsiString IntToStr(int64_t value);
AnsiString UIntToStr(uint64_t value);

// The text in double quotes, inner double quotes doubled: a"b -> "a""b".
AnsiString QuoteText(std::string_view text);

// True when b is a GBK lead byte (0x81-0xFE): it takes the next byte with it.
constexpr bool IsLeadByte(unsigned char b) {
  return b >= 0x81 && b <= 0xFE;
}

// Index of the character after the one at index i (GBK stepping). A lead byte
// at the very end counts as one character. Never returns past text.size().
size_t CharNext(std::string_view text, size_t i);

// Upper-casing in the ANSI code page: single-byte ASCII letters fold,
// double-byte characters stay as they are.
AnsiString AnsiUpperCase(std::string_view text);
AnsiString AnsiLowerCase(std::string_view text);

// Case-insensitive comparison by GBK character (ASCII letters fold, double-byte
// characters compare as they are, byte by byte). Negative, zero or positive.
int AnsiCompareText(std::string_view a, std::string_view b);
inline bool AnsiSameText(std::string_view a, std::string_view b) {
  return AnsiCompareText(a, b) == 0;
}

// Text without leading and trailing characters <= ' '.
AnsiString Trim(std::string_view text);

}  // namespace zk
