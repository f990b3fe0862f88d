#include "container/crypto/StringFormat.h"

#include <array>
#include <cstring>

namespace zk {

namespace {

constexpr std::string_view HexAlphabet = "0123456789ABCDEFX$ abcdefhHx()[]{},;:-_/\\*+\"'\t\n\r";
constexpr std::string_view HexLAlphabet = "0123456789abcdefX$ ABCDEFhHx()[]{},;:-_/\\*+\"'\t\n\r";
constexpr std::string_view Mime64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/= $()[]{},;:-_\\*\"'\t\n\r";
constexpr std::string_view UUAlphabet =
    "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_ \t\n\r";
constexpr std::string_view XXAlphabet =
    "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz \"()[]'\t\n\r";

constexpr int UULineMax = 45;

[[noreturn]] void RaiseInvalid(const TStringFormat& format) {
  throw EStringFormat("Input is not an valid " + format.DisplayName() + " Format.");
}

bool AllInAlphabet(const char* Data, int64_t Size, std::string_view alphabet) {
  for (int64_t i = 0; i < Size; ++i) {
    if (Data[i] == '\0' || alphabet.find(Data[i]) == std::string_view::npos) return false;
  }
  return true;
}

// Index of c among the first 64 characters of a coding alphabet, or -1.
using TDigitTable = std::array<int8_t, 256>;
TDigitTable MakeDigitTable(std::string_view alphabet) {
  TDigitTable table;
  table.fill(-1);
  for (int i = 0; i < 64; ++i)
    table[static_cast<unsigned char>(alphabet[i])] = static_cast<int8_t>(i);
  return table;
}

int HexNibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Reads the next coding digit at or after i (skipping everything else); -1 at the end.
int NextDigit(const TDigitTable& digits, const char* Text, int64_t Size, int64_t& i) {
  while (i < Size) {
    int d = digits[static_cast<unsigned char>(Text[i++])];
    if (d >= 0) return d;
  }
  return -1;
}

int64_t EffectiveSize(const void* Data, int64_t Size) {
  if (Data == nullptr) return 0;
  if (Size < 0) return static_cast<int64_t>(std::strlen(static_cast<const char*>(Data)));
  return Size;
}

}  // namespace

// ---- copy ----

AnsiString TStringFormat::TextToBytes(const char* Text, int64_t Size) const {
  if (Text == nullptr || Size <= 0) return {};
  return AnsiString(Text, static_cast<size_t>(Size));
}

AnsiString TStringFormat::BytesToText(const void* Data, int64_t Size) const {
  if (Data == nullptr || Size <= 0) return {};
  return AnsiString(static_cast<const char*>(Data), static_cast<size_t>(Size));
}

bool TStringFormat::IsValidText(const char*, int64_t, bool) const {
  return true;
}

// ---- hexadecimal ----

std::string_view TStringFormat_HEX::Alphabet() const {
  return HexAlphabet;
}
std::string_view TStringFormat_HEXL::Alphabet() const {
  return HexLAlphabet;
}

AnsiString TStringFormat_HEX::BytesToText(const void* Data, int64_t Size) const {
  if (Data == nullptr || Size <= 0) return {};
  const std::string_view digits = Alphabet();
  const auto* p = static_cast<const uint8_t*>(Data);
  AnsiString out(static_cast<size_t>(Size) * 2, '\0');
  for (int64_t i = 0; i < Size; ++i) {
    out[static_cast<size_t>(2 * i)] = digits[p[i] >> 4];
    out[static_cast<size_t>(2 * i + 1)] = digits[p[i] & 0x0F];
  }
  return out;
}

AnsiString TStringFormat_HEX::TextToBytes(const char* Text, int64_t Size) const {
  AnsiString out;
  if (Text == nullptr || Size <= 0) return out;
  out.reserve(static_cast<size_t>(Size / 2));
  bool markerSeen = false;
  int high = -1;
  for (int64_t i = 0; i < Size; ++i) {
    const char c = Text[i];
    const int nibble = HexNibble(c);
    if (nibble >= 0) {
      if (high < 0) {
        high = nibble;
      } else {
        out.push_back(static_cast<char>(high << 4 | nibble));
        high = -1;
      }
    } else if (!markerSeen && (c == 'X' || c == 'x' || c == '$')) {
      // A prefix such as 0x or $: the value starts here.
      markerSeen = true;
      out.clear();
      high = -1;
    }
  }
  return out;  // an unpaired last digit is dropped
}

bool TStringFormat_HEX::IsValidText(const char* Data, int64_t Size, bool ToBytes) const {
  if (!ToBytes) return true;
  return AllInAlphabet(Data, Size, Alphabet());
}

// ---- MIME Base 64 ----

std::string_view TStringFormat_MIME64::Alphabet() const {
  return Mime64Alphabet;
}

AnsiString TStringFormat_MIME64::BytesToText(const void* Data, int64_t Size) const {
  if (Data == nullptr || Size <= 0) return {};
  const std::string_view digits = Alphabet();
  const auto* p = static_cast<const uint8_t*>(Data);
  AnsiString out;
  out.reserve(static_cast<size_t>((Size + 2) / 3 * 4));
  for (int64_t i = 0; i < Size; i += 3) {
    const int64_t n = Size - i < 3 ? Size - i : 3;
    uint32_t v = uint32_t(p[i]) << 16;
    if (n > 1) v |= uint32_t(p[i + 1]) << 8;
    if (n > 2) v |= p[i + 2];
    out.push_back(digits[(v >> 18) & 63]);
    out.push_back(digits[(v >> 12) & 63]);
    out.push_back(n > 1 ? digits[(v >> 6) & 63] : '=');
    out.push_back(n > 2 ? digits[v & 63] : '=');
  }
  return out;
}

AnsiString TStringFormat_MIME64::TextToBytes(const char* Text, int64_t Size) const {
  AnsiString out;
  if (Text == nullptr || Size <= 0) return out;
  static const TDigitTable digits = MakeDigitTable(Mime64Alphabet);
  out.reserve(static_cast<size_t>(Size / 4 * 3 + 3));
  // Groups of four coding characters; "=" counts as a zero digit and drops one
  // byte of its group. A text whose length is no multiple of 4 reads as padded
  // with "=", and so does a last group cut short by skipped characters.
  uint32_t value = 0;
  int count = 0, pads = 0;
  auto flush = [&] {
    const int keep = 3 - (pads < 3 ? pads : 3);
    if (keep > 0) out.push_back(static_cast<char>(value >> 16));
    if (keep > 1) out.push_back(static_cast<char>(value >> 8));
    if (keep > 2) out.push_back(static_cast<char>(value));
    value = 0;
    count = 0;
    pads = 0;
  };
  for (int64_t i = 0; i < Size; ++i) {
    const char c = Text[i];
    int d = digits[static_cast<unsigned char>(c)];
    if (d < 0) {
      if (c != '=') continue;
      d = 0;
      ++pads;
    }
    value = value << 6 | static_cast<uint32_t>(d);
    if (++count == 4) flush();
  }
  if (count > 0) {
    while (count < 4) {
      value <<= 6;
      ++count;
      ++pads;
    }
    flush();
  }
  return out;
}

// ---- UU and XX ----

std::string_view TStringFormat_UU::Alphabet() const {
  return UUAlphabet;
}
std::string_view TStringFormat_XX::Alphabet() const {
  return XXAlphabet;
}

AnsiString TStringFormat_UU::BytesToText(const void* Data, int64_t Size) const {
  if (Data == nullptr || Size <= 0) return {};
  const std::string_view digits = Alphabet();
  const auto* p = static_cast<const uint8_t*>(Data);
  AnsiString out;
  out.reserve(static_cast<size_t>(Size / UULineMax + 1 + (Size + 2) / 3 * 4));
  for (int64_t line = 0; line < Size; line += UULineMax) {
    const int64_t n = Size - line < UULineMax ? Size - line : UULineMax;
    out.push_back(digits[static_cast<size_t>(n)]);
    for (int64_t i = 0; i < n; i += 3) {
      uint32_t v = uint32_t(p[line + i]) << 16;
      if (i + 1 < n) v |= uint32_t(p[line + i + 1]) << 8;
      if (i + 2 < n) v |= p[line + i + 2];
      for (int shift = 18; shift >= 0; shift -= 6) out.push_back(digits[(v >> shift) & 63]);
    }
  }
  return out;
}

AnsiString TStringFormat_UU::TextToBytes(const char* Text, int64_t Size) const {
  AnsiString out;
  if (Text == nullptr || Size <= 0) return out;
  const TDigitTable digits = MakeDigitTable(Alphabet());
  int64_t i = 0;
  for (;;) {
    const int length = NextDigit(digits, Text, Size, i);
    if (length < 0) break;
    if (length > UULineMax) RaiseInvalid(*this);
    for (int done = 0; done < length; done += 3) {
      // A group cut short by the end of the text is filled with zero bits.
      uint32_t v = 0;
      for (int k = 0; k < 4; ++k) {
        const int d = NextDigit(digits, Text, Size, i);
        v = v << 6 | static_cast<uint32_t>(d < 0 ? 0 : d);
      }
      const int keep = length - done < 3 ? length - done : 3;
      out.push_back(static_cast<char>(v >> 16));
      if (keep > 1) out.push_back(static_cast<char>(v >> 8));
      if (keep > 2) out.push_back(static_cast<char>(v));
    }
  }
  return out;
}

bool TStringFormat_UU::IsValidText(const char* Data, int64_t Size, bool ToBytes) const {
  if (!ToBytes) return true;
  if (!AllInAlphabet(Data, Size, Alphabet())) return false;
  const TDigitTable digits = MakeDigitTable(Alphabet());
  int64_t i = 0;
  for (;;) {
    const int length = NextDigit(digits, Data, Size, i);
    if (length < 0) return true;
    if (length > UULineMax) return false;
    // The coding characters the line's bytes need; filler characters of a
    // short last group read as lines of length 0 afterwards.
    for (int need = (length * 4 + 2) / 3; need > 0; --need) {
      if (NextDigit(digits, Data, Size, i) < 0) return false;
    }
  }
}

// ---- registry ----

const TStringFormat* FindStringFormat(int32_t FormatId) {
  static const TStringFormat copy;
  static const TStringFormat_HEX hex;
  static const TStringFormat_HEXL hexl;
  static const TStringFormat_MIME64 mime64;
  static const TStringFormat_UU uu;
  static const TStringFormat_XX xx;
  static const TStringFormat* const registered[] = {&copy, &hex, &hexl, &mime64, &uu, &xx};
  if (FormatId == -1) FormatId = DefaultStringFormat;
  for (const TStringFormat* format : registered) {
    if (format->FormatId() == FormatId) return format;
  }
  return nullptr;
}

namespace {
const TStringFormat& FormatOrRaise(int32_t FormatId) {
  const TStringFormat* format = FindStringFormat(FormatId);
  if (format == nullptr)
    throw EStringFormat("String Format \"" + IntToStr(FormatId) + "\" not exists.");
  return *format;
}
}  // namespace

AnsiString BytesToFormat(const void* Data, int64_t Size, int32_t FormatId) {
  Size = EffectiveSize(Data, Size);
  if (Size == 0 || FormatId == 0) return {};
  return FormatOrRaise(FormatId).BytesToText(Data, Size);
}

AnsiString FormatToBytes(const char* Text, int64_t Size, int32_t FormatId) {
  Size = EffectiveSize(Text, Size);
  if (Size == 0 || FormatId == 0) return {};
  const TStringFormat& format = FormatOrRaise(FormatId);
  if (!format.IsValidText(Text, Size, true)) RaiseInvalid(format);
  return format.TextToBytes(Text, Size);
}

bool IsValidText(const char* Data, int64_t Size, int32_t FormatId, bool ToBytes) {
  Size = EffectiveSize(Data, Size);
  return FormatOrRaise(FormatId).IsValidText(Data, Size, ToBytes);
}

}  // namespace zk
