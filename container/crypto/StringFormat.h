// Text formats that turn bytes into text and back: the copy format, upper- and
// lower-case hexadecimal, MIME Base 64, UU and XX coding. Each format is one
// constant object in a registry filled once at start-up and looked up by its
// FormatId; the free functions convert through the registry.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/rtl/AnsiString.h"
#include "platform/rtl/Exception.h"

namespace zk {

// "String Format "<id>" not exists." / "Input is not an valid <name> Format."
class EStringFormat : public Exception {
 public:
  using Exception::Exception;
};

// Identifiers of the registered formats.
constexpr int32_t fmtCOPY = 1;
constexpr int32_t fmtHEX = 16;
constexpr int32_t fmtHEXL = 1016;
constexpr int32_t fmtMIME64 = 4196;
constexpr int32_t fmtUU = 21845;
constexpr int32_t fmtXX = 22616;
// The format meant by the id -1.
constexpr int32_t DefaultStringFormat = fmtMIME64;

// The copy format: bytes go through unchanged both ways.
class TStringFormat {
 public:
  virtual ~TStringFormat() = default;
  virtual AnsiString TextToBytes(const char* Text, int64_t Size) const;
  virtual AnsiString BytesToText(const void* Data, int64_t Size) const;
  virtual AnsiString DisplayName() const { return "copy Input to Output"; }
  virtual int32_t FormatId() const { return fmtCOPY; }
  // ToBytes false: always true. ToBytes true: whether TextToBytes accepts the text.
  virtual bool IsValidText(const char* Data, int64_t Size, bool ToBytes) const;
};

// Two digits per byte, high nibble first; decoding takes either case and
// accepts an "X"/"x"/"$" prefix.
class TStringFormat_HEX : public TStringFormat {
 public:
  AnsiString TextToBytes(const char* Text, int64_t Size) const override;
  AnsiString BytesToText(const void* Data, int64_t Size) const override;
  AnsiString DisplayName() const override { return "Hexadecimal"; }
  int32_t FormatId() const override { return fmtHEX; }
  bool IsValidText(const char* Data, int64_t Size, bool ToBytes) const override;
  // The coding digits first, then the characters tolerated in input.
  virtual std::string_view Alphabet() const;
};

class TStringFormat_HEXL : public TStringFormat_HEX {
 public:
  AnsiString DisplayName() const override { return "Hexadecimal lowercase"; }
  int32_t FormatId() const override { return fmtHEXL; }
  std::string_view Alphabet() const override;
};

// Base 64 with "=" padding and no line breaks; decoding tolerates a missing pad.
class TStringFormat_MIME64 : public TStringFormat_HEX {
 public:
  AnsiString TextToBytes(const char* Text, int64_t Size) const override;
  AnsiString BytesToText(const void* Data, int64_t Size) const override;
  AnsiString DisplayName() const override { return "MIME Base 64"; }
  int32_t FormatId() const override { return fmtMIME64; }
  std::string_view Alphabet() const override;
};

// Lines of at most 45 bytes, each a length character and four characters per
// three bytes; the lines follow each other without separators.
class TStringFormat_UU : public TStringFormat {
 public:
  AnsiString TextToBytes(const char* Text, int64_t Size) const override;
  AnsiString BytesToText(const void* Data, int64_t Size) const override;
  AnsiString DisplayName() const override { return "UU Coding"; }
  int32_t FormatId() const override { return fmtUU; }
  bool IsValidText(const char* Data, int64_t Size, bool ToBytes) const override;
  virtual std::string_view Alphabet() const;
};

class TStringFormat_XX : public TStringFormat_UU {
 public:
  AnsiString DisplayName() const override { return "XX Coding"; }
  int32_t FormatId() const override { return fmtXX; }
  std::string_view Alphabet() const override;
};

// The registered format with that id (-1: the default), or nullptr.
const TStringFormat* FindStringFormat(int32_t FormatId);

// Bytes to text in a format. Size < 0 takes the bytes up to the first NUL.
// Empty input or id 0 gives an empty text; an unknown id raises EStringFormat.
AnsiString BytesToFormat(const void* Data, int64_t Size, int32_t FormatId);
inline AnsiString BytesToFormat(std::string_view Data, int32_t FormatId) {
  return BytesToFormat(Data.data(), static_cast<int64_t>(Data.size()), FormatId);
}

// Text in a format to bytes. Size < 0 takes the text up to the first NUL.
// Empty input or id 0 gives no bytes; an unknown id or text the format does not
// accept raises EStringFormat.
AnsiString FormatToBytes(const char* Text, int64_t Size, int32_t FormatId);
inline AnsiString FormatToBytes(std::string_view Text, int32_t FormatId) {
  return FormatToBytes(Text.data(), static_cast<int64_t>(Text.size()), FormatId);
}

// Whether the format with that id accepts the text (ToBytes true) or the bytes
// (ToBytes false, always true). An unknown id raises EStringFormat.
bool IsValidText(const char* Data, int64_t Size, int32_t FormatId, bool ToBytes = true);

}  // namespace zk
