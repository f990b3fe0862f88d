// Check values and the small byte routines the cryptography units share: the
// container's check value (XOR of 32-bit words or CRC-16), table-driven
// CRC-16/ARC and CRC-32 registers, XOR of byte ranges, the seed mixer and the
// clock seed. Everything here is allocation-free and works on caller buffers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zk {

// Algorithms of ComputeCheckValue; any other kind gives the value 0.
enum TCheckKind : int32_t { ckXorWords = 0, ckCrc16 = 1 };

// Kind 0: XOR of the little-endian 32-bit words of the data (a trailing
// Size mod 4 bytes do not take part). Kind 1: CRC-16 of the data, zero-extended.
// Any other kind: 0.
uint32_t ComputeCheckValue(const void* Data, uint32_t Size, int32_t CheckKind);

// CRC-16 with the reflected polynomial 0xA001 and no final XOR: start 0 gives
// CRC-16/ARC, start 0xFFFF gives CRC-16/MODBUS. Start comes back unchanged when
// Data is absent or Size <= 0.
uint16_t UpdateCrc16(uint16_t Start, const void* Data, int64_t Size);

// The CRC-32 register (reflected polynomial 0xEDB88320) after the bytes. No
// inversion is applied inside: the caller starts with 0xFFFFFFFF and inverts
// the result for the usual CRC-32. Start comes back unchanged when Data is
// absent or Size <= 0.
uint32_t UpdateCrc32(uint32_t Start, const void* Data, int64_t Size);

// Dest[i] = A[i] XOR B[i] for Size bytes. Dest may be A or B.
void XorBytes(const void* A, const void* B, int64_t Size, void* Dest);

// Overwrites Size bytes of Buffer with bytes of the sequence
// Seed = Seed * 0x08088405 + 1, each old byte first XORed into the seed's low
// byte. Returns the final seed.
uint32_t MixSeedBuffer(uint32_t Seed, void* Buffer, int64_t Size);

// A 32-bit seed from the UTC time of day (milliseconds) and the performance
// counter.
uint32_t ClockSeed();

}  // namespace zk
