#include "container/compress/SFSBZip2.h"

#include <bzlib.h>

#include <algorithm>
#include <cstdlib>

namespace zk {

void BZInternalError(int ErrorCode) {
  throw EBZip2Error("Compression Error " + IntToStr(ErrorCode));
}

}  // namespace zk

// The library reports an internal consistency failure through one of these,
// depending on how it was built (without stdio: bz_internal_error; with stdio
// its own handler, which would print and end the process). Both raise
// EBZip2Error instead; the glue below frees the codec state on the way out.
// Weak, so that a library linked in statically keeps its own definition.
extern "C" __attribute__((weak)) void bz_internal_error(int errcode) {
  zk::BZInternalError(errcode);
}
extern "C" __attribute__((weak)) void BZ2_bz__AssertH__fail(int errcode) {
  zk::BZInternalError(errcode);
}

namespace zk {

namespace {

void* BZAlloc(void* /*opaque*/, int items, int size) {
  if (items < 0 || size < 0) return nullptr;
  return std::malloc(static_cast<size_t>(items) * static_cast<size_t>(size));
}
void BZFree(void* /*opaque*/, void* address) {
  std::free(address);
}

template <class E>
int Check(int code) {
  if (code < 0) throw E("error " + IntToStr(code));
  return code;
}

bz_stream NewStream(const void* InBuf, int32_t InSize) {
  bz_stream bs{};
  bs.bzalloc = BZAlloc;
  bs.bzfree = BZFree;
  bs.opaque = nullptr;
  bs.next_in = static_cast<char*>(const_cast<void*>(InBuf));
  bs.avail_in = static_cast<unsigned>(InSize);
  return bs;
}

void Room(bz_stream& bs, std::vector<uint8_t>& out, size_t used) {
  bs.next_out = reinterpret_cast<char*>(out.data() + used);
  bs.avail_out = static_cast<unsigned>(out.size() - used);
}

size_t TotalOut(const bz_stream& bs) {
  return (static_cast<size_t>(bs.total_out_hi32) << 32) | bs.total_out_lo32;
}

}  // namespace

void BZCompressBuf(const void* InBuf, int32_t InSize, std::vector<uint8_t>& OutBuf,
                   int32_t& OutSize, int BlockSize100k) {
  OutBuf.clear();
  OutSize = 0;
  if (InSize < 0 || (InSize > 0 && InBuf == nullptr)) throw EBZCompressionError("error -2");
  const size_t in = static_cast<size_t>(InSize);
  std::vector<uint8_t> out((in + in / 10 + 12 + 255) / 256 * 256);
  bz_stream bs = NewStream(InBuf, InSize);
  Room(bs, out, 0);
  Check<EBZCompressionError>(BZ2_bzCompressInit(&bs, BlockSize100k, 0, 0));
  try {
    while (Check<EBZCompressionError>(BZ2_bzCompress(&bs, BZ_FINISH)) != BZ_STREAM_END) {
      // Stopped before the end: 256 more bytes of room.
      const size_t used = out.size() - bs.avail_out;
      out.resize(out.size() + 256);
      Room(bs, out, used);
    }
  } catch (...) {
    BZ2_bzCompressEnd(&bs);
    throw;
  }
  Check<EBZCompressionError>(BZ2_bzCompressEnd(&bs));
  out.resize(TotalOut(bs));
  OutSize = static_cast<int32_t>(out.size());
  OutBuf = std::move(out);
}

void BZDecompressBuf(const void* InBuf, int32_t InSize, int32_t OutEstimate,
                     std::vector<uint8_t>& OutBuf, int32_t& OutSize) {
  OutBuf.clear();
  OutSize = 0;
  if (InSize < 0 || (InSize > 0 && InBuf == nullptr)) throw EBZDecompressionError("error -2");
  // An empty input would give a growth step of 0: grow by 256 at least.
  const size_t step = std::max<size_t>((static_cast<size_t>(InSize) + 255) / 256 * 256, 256);
  const size_t limit = OutEstimate > 0 ? static_cast<size_t>(OutEstimate) + 1
                                       : static_cast<size_t>(BZMaxUnknownOutput);
  std::vector<uint8_t> out(OutEstimate > 0 ? limit : std::min(step, limit));
  bz_stream bs = NewStream(InBuf, InSize);
  Room(bs, out, 0);
  Check<EBZDecompressionError>(BZ2_bzDecompressInit(&bs, 0, 0));
  try {
    for (;;) {
      const unsigned inBefore = bs.avail_in;
      const unsigned outBefore = bs.avail_out;
      const int code = Check<EBZDecompressionError>(BZ2_bzDecompress(&bs));
      if (code == BZ_STREAM_END) break;
      if (bs.avail_out == 0) {
        // Wants more room: grow by one step, but never beyond the limit.
        const size_t used = out.size();
        if (used >= limit) throw EBZDecompressionError("error " + IntToStr(BZ_OUTBUFF_FULL));
        out.resize(std::min(used + step, limit));
        Room(bs, out, used);
      } else if (bs.avail_in == 0 || (bs.avail_in == inBefore && bs.avail_out == outBefore)) {
        // The library asks for more input, but the stream is used up (a
        // truncated stream), or the call made no progress.
        throw EBZDecompressionError("error " + IntToStr(BZ_UNEXPECTED_EOF));
      }
    }
  } catch (...) {
    BZ2_bzDecompressEnd(&bs);
    throw;
  }
  Check<EBZDecompressionError>(BZ2_bzDecompressEnd(&bs));
  out.resize(TotalOut(bs));
  OutSize = static_cast<int32_t>(out.size());
  OutBuf = std::move(out);
}

}  // namespace zk
