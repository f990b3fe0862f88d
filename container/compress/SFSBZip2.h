// The bzip2 glue: whole-buffer block-sorting compression and decompression in
// the library's standard stream format, with allocation callbacks on the
// common allocator and an internal-error handler that turns the library's own
// consistency failures into EBZip2Error. Codec failures raise
// EBZCompressionError or EBZDecompressionError ("error %d"), leaving the
// output buffer empty.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/rtl/Exception.h"

namespace zk {

class EBZip2Error : public Exception {
 public:
  using Exception::Exception;
};
class EBZCompressionError : public EBZip2Error {
 public:
  using EBZip2Error::EBZip2Error;
};
class EBZDecompressionError : public EBZip2Error {
 public:
  using EBZip2Error::EBZip2Error;
};

// Compresses InSize bytes at InBuf with BlockSize100k (1 to 9) and the default
// work factor into OutBuf; OutSize is the length of the stream.
void BZCompressBuf(const void* InBuf, int32_t InSize, std::vector<uint8_t>& OutBuf,
                   int32_t& OutSize, int BlockSize100k);

// Decompresses one bzip2 stream (normal memory mode). OutEstimate > 0 is the
// expected size: the stream may produce at most one byte more, else the call
// fails. OutEstimate 0 lets the output grow up to BZMaxUnknownOutput bytes.
// Truncated input, a stream that makes no progress and any codec error raise
// EBZDecompressionError.
void BZDecompressBuf(const void* InBuf, int32_t InSize, int32_t OutEstimate,
                     std::vector<uint8_t>& OutBuf, int32_t& OutSize);

constexpr int32_t BZMaxUnknownOutput = 1572864 + 1;

// The handler of the library's internal consistency failures: raises
// EBZip2Error "Compression Error %d" with the library's error number.
[[noreturn]] void BZInternalError(int ErrorCode);

}  // namespace zk
