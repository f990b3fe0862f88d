// Compression methods: whole-buffer compression and decompression by the
// one-byte method code (stored, zlib, bzip2 or the PPM coder at three
// strengths each), the block size of each method, and the PPM framing with
// its 4-byte info word. The dispatch functions never raise; the buffers they
// hand back belong to the caller.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace zk {

// Compresses InSize bytes at InBuf with Method into OutBuf (OutSize bytes).
// False for InSize <= 0, a method of 10 or more, or any codec failure; OutBuf
// is then empty and OutSize 0.
bool CompressBuffer(const void* InBuf, int32_t InSize, std::vector<uint8_t>& OutBuf, uint8_t Method,
                    int32_t& OutSize);

// Decompresses the InSize bytes at InBuf made by Method. OutSize carries in
// the expected uncompressed size (> 0, else False at once) and carries out
// the size produced, which the caller compares with what it expected.
bool DecompressBuffer(const void* InBuf, int32_t InSize, std::vector<uint8_t>& OutBuf,
                      uint8_t Method, int32_t& OutSize);

// Uncompressed bytes per block of a compressed stream made with Method.
int32_t BlockSizeForMethod(uint8_t Method);

// The info word in front of PPM-coded data: MaxOrder - 1 in bits 0-3,
// ModelMemoryMB - 1 in bits 4-11, the variant code 6 in bits 12-15.
uint32_t PPMInfoWord(int MaxOrder, int ModelMemoryMB);

// Writes the info word and the coded bytes into OutBuf from position 0 on,
// growing OutBuf when it is too short (a caller usually sizes it to
// InSize + InSize div 20 + 50). Returns the length written, 0 on failure
// (MaxOrder outside 1-16, ModelMemoryMB outside 1-256, no model memory).
int32_t PPMCompressBuf(const void* InBuf, int32_t InSize, std::vector<uint8_t>& OutBuf,
                       int MaxOrder, int ModelMemoryMB);

// Decodes PPM data framed by its info word into OutBuf and returns the number
// of bytes decoded. 0 on failure: fewer than 8 input bytes, a variant code
// other than 6, no model memory, data that reads past the end of the input or
// would decode to more than OutBuf.size() bytes.
int32_t PPMDecompressBuf(const void* InBuf, int32_t InSize, std::span<uint8_t> OutBuf);

}  // namespace zk
