#include "container/crypto/CheckValue.h"

#include <array>
#include <cstring>

#include "platform/os/Clock.h"

namespace zk {

namespace {

// One-lookup-per-byte tables of the reflected polynomials, built at compile time.
template <class T>
constexpr std::array<T, 256> MakeReflectedTable(T poly) {
  std::array<T, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    T crc = static_cast<T>(i);
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 1) ? static_cast<T>((crc >> 1) ^ poly) : static_cast<T>(crc >> 1);
    table[i] = crc;
  }
  return table;
}

constexpr std::array<uint16_t, 256> Crc16Table = MakeReflectedTable<uint16_t>(0xA001);
constexpr std::array<uint32_t, 256> Crc32Table = MakeReflectedTable<uint32_t>(0xEDB88320u);
static_assert(Crc16Table[1] == 0xC0C1 && Crc16Table[128] == 0xA001);
static_assert(Crc32Table[1] == 0x77073096u);

inline uint32_t LoadLE32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

uint32_t ComputeCheckValue(const void* Data, uint32_t Size, int32_t CheckKind) {
  if (Data == nullptr) return 0;
  const auto* p = static_cast<const uint8_t*>(Data);
  switch (CheckKind) {
    case ckXorWords: {
      uint32_t r = 0;
      for (uint32_t i = 0, words = Size / 4; i < words; ++i) r ^= LoadLE32(p + 4 * i);
      return r;
    }
    case ckCrc16:
      return UpdateCrc16(0, Data, Size);
    default:
      return 0;
  }
}

uint16_t UpdateCrc16(uint16_t Start, const void* Data, int64_t Size) {
  if (Data == nullptr || Size <= 0) return Start;
  const auto* p = static_cast<const uint8_t*>(Data);
  uint16_t crc = Start;
  for (int64_t i = 0; i < Size; ++i)
    crc = static_cast<uint16_t>((crc >> 8) ^ Crc16Table[(crc ^ p[i]) & 0xFF]);
  return crc;
}

uint32_t UpdateCrc32(uint32_t Start, const void* Data, int64_t Size) {
  if (Data == nullptr || Size <= 0) return Start;
  const auto* p = static_cast<const uint8_t*>(Data);
  uint32_t crc = Start;
  for (int64_t i = 0; i < Size; ++i) crc = (crc >> 8) ^ Crc32Table[(crc ^ p[i]) & 0xFF];
  return crc;
}

void XorBytes(const void* A, const void* B, int64_t Size, void* Dest) {
  if (A == nullptr || B == nullptr || Dest == nullptr || Size <= 0) return;
  const auto* a = static_cast<const uint8_t*>(A);
  const auto* b = static_cast<const uint8_t*>(B);
  auto* d = static_cast<uint8_t*>(Dest);
  // From the last byte towards the first: the trailing bytes one by one, then
  // whole words, so Dest may be either input.
  int64_t i = Size;
  while (i % 4 != 0) {
    --i;
    d[i] = static_cast<uint8_t>(a[i] ^ b[i]);
  }
  while (i > 0) {
    i -= 4;
    uint32_t wa, wb;
    std::memcpy(&wa, a + i, 4);
    std::memcpy(&wb, b + i, 4);
    wa ^= wb;
    std::memcpy(d + i, &wa, 4);
  }
}

uint32_t MixSeedBuffer(uint32_t Seed, void* Buffer, int64_t Size) {
  if (Buffer == nullptr || Size <= 0) return Seed;
  auto* p = static_cast<uint8_t*>(Buffer);
  for (int64_t i = 0; i < Size; ++i) {
    Seed = (Seed & 0xFFFFFF00u) | ((Seed ^ p[i]) & 0xFFu);
    Seed = Seed * 0x08088405u + 1u;
    p[i] = static_cast<uint8_t>(Seed >> 24);
  }
  return Seed;
}

uint32_t ClockSeed() {
  const os::TSystemTime now = os::UtcNow();
  const uint32_t t =
      ((uint32_t(now.Hour) * 60 + now.Minute) * 60 + now.Second) * 1000 + now.Milliseconds;
  const auto counter = static_cast<uint64_t>(os::Clock().PerformanceCounter());
  return t ^ static_cast<uint32_t>(counter) ^ static_cast<uint32_t>(counter >> 32);
}

}  // namespace zk
