// The 280-byte header that begins every part file of a multi-part file (after
// the foreign prefix of the first file, if any): the part signature, the full
// size of every full part, and the file name of the next part. Little-endian.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zk {

inline constexpr std::array<uint8_t, 6> PartSignature = {0x09, 0x0A, 0x0B, 0x0C, 0x08, 0x20};
inline constexpr int64_t PartHeaderSize = 280;
// The smallest part: the header and 100 data bytes.
inline constexpr int64_t MinPartSize = 380;
// The largest part size (2^63 - 2): practically unlimited, one part.
inline constexpr int64_t MaxPartSize = 9223372036854775806;
// Bytes of NextPartName, its NUL included; a name has at most 260 bytes.
inline constexpr std::size_t PartNameFieldSize = 261;
inline constexpr std::size_t MaxPartNameLength = PartNameFieldSize - 1;

#pragma pack(push, 1)
struct TPartHeader {
  uint8_t PartSignature[6];
  uint8_t Reserved1[2];
  int64_t PartSize;                      // full byte size of every full part file, header included
  char NextPartName[PartNameFieldSize];  // NUL-terminated; empty in the last part
  uint8_t Reserved2[3];
};
#pragma pack(pop)

static_assert(std::endian::native == std::endian::little, "TPartHeader is read in place");
static_assert(sizeof(TPartHeader) == PartHeaderSize);
static_assert(offsetof(TPartHeader, PartSignature) == 0);
static_assert(offsetof(TPartHeader, Reserved1) == 6);
static_assert(offsetof(TPartHeader, PartSize) == 8);
static_assert(offsetof(TPartHeader, NextPartName) == 16);
static_assert(offsetof(TPartHeader, Reserved2) == 277);

// A zeroed header with the signature, PartSize and NextPartName (which must
// be at most MaxPartNameLength bytes; longer names are the caller's fault).
TPartHeader MakePartHeader(int64_t PartSize, std::string_view NextPartName);
// True when the header begins with the part signature.
bool HasPartSignature(const TPartHeader& Header);
// The NextPartName up to its NUL; false when there is no NUL in the field.
bool GetNextPartName(const TPartHeader& Header, std::string_view& Name);

}  // namespace zk
