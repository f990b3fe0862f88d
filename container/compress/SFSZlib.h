// The zlib glue: whole-buffer deflate and inflate in the zlib stream format
// (RFC 1950), with zero-filling allocation callbacks on the common allocator.
// The functions own their codec state for the call only and raise
// ECompressionError or EDecompressionError ("error") on a codec failure,
// leaving the output buffer empty.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/rtl/Exception.h"

namespace zk {

class EZlibError : public Exception {
 public:
  using Exception::Exception;
};
class ECompressionError : public EZlibError {
 public:
  using EZlibError::EZlibError;
};
class EDecompressionError : public EZlibError {
 public:
  using EZlibError::EZlibError;
};

// Deflates InSize bytes at InBuf at Level (window bits 15, memory level 8,
// default strategy) into OutBuf; OutSize is the length of the stream.
void ZCompressBuf(const void* InBuf, int32_t InSize, std::vector<uint8_t>& OutBuf, int32_t& OutSize,
                  int Level);

// Inflates one zlib stream. OutEstimate > 0 is the expected size: the stream
// may produce at most one byte more, else the call fails. OutEstimate 0 lets
// the output grow up to ZMaxUnknownOutput bytes. Truncated input, a stream
// that makes no progress and any codec error raise EDecompressionError.
void ZDecompressBuf(const void* InBuf, int32_t InSize, int32_t OutEstimate,
                    std::vector<uint8_t>& OutBuf, int32_t& OutSize);

// The most a stream may produce when the caller gives no estimate: one more
// byte than the largest block of any compression method.
constexpr int32_t ZMaxUnknownOutput = 1572864 + 1;

}  // namespace zk
