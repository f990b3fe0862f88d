#include "container/compress/SFSZlib.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>

namespace zk {

namespace {

voidpf ZAlloc(voidpf /*opaque*/, uInt items, uInt size) {
  return std::calloc(items, size);
}
void ZFree(voidpf /*opaque*/, voidpf address) {
  std::free(address);
}

template <class E>
int Check(int code) {
  if (code < 0) throw E("error");
  return code;
}

z_stream NewStream(const void* InBuf, int32_t InSize) {
  z_stream zs{};
  zs.zalloc = ZAlloc;
  zs.zfree = ZFree;
  zs.opaque = nullptr;
  zs.next_in = static_cast<Bytef*>(const_cast<void*>(InBuf));
  zs.avail_in = static_cast<uInt>(InSize);
  return zs;
}

// Gives the codec the room after the bytes produced so far.
void Room(z_stream& zs, std::vector<uint8_t>& out, size_t used) {
  zs.next_out = out.data() + used;
  zs.avail_out = static_cast<uInt>(out.size() - used);
}

}  // namespace

void ZCompressBuf(const void* InBuf, int32_t InSize, std::vector<uint8_t>& OutBuf, int32_t& OutSize,
                  int Level) {
  OutBuf.clear();
  OutSize = 0;
  if (InSize < 0 || (InSize > 0 && InBuf == nullptr)) throw ECompressionError("error");
  const size_t in = static_cast<size_t>(InSize);
  std::vector<uint8_t> out((in + in / 10 + 12 + 255) / 256 * 256);
  z_stream zs = NewStream(InBuf, InSize);
  Room(zs, out, 0);
  Check<ECompressionError>(deflateInit2(&zs, Level, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY));
  try {
    while (Check<ECompressionError>(deflate(&zs, Z_FINISH)) != Z_STREAM_END) {
      // Stopped before the end: 256 more bytes of room.
      const size_t used = out.size() - zs.avail_out;
      out.resize(out.size() + 256);
      Room(zs, out, used);
    }
  } catch (...) {
    deflateEnd(&zs);
    throw;
  }
  Check<ECompressionError>(deflateEnd(&zs));
  out.resize(zs.total_out);
  OutSize = static_cast<int32_t>(out.size());
  OutBuf = std::move(out);
}

void ZDecompressBuf(const void* InBuf, int32_t InSize, int32_t OutEstimate,
                    std::vector<uint8_t>& OutBuf, int32_t& OutSize) {
  OutBuf.clear();
  OutSize = 0;
  if (InSize < 0 || (InSize > 0 && InBuf == nullptr)) throw EDecompressionError("error");
  // An empty input would give a growth step of 0: grow by 256 at least.
  const size_t step = std::max<size_t>((static_cast<size_t>(InSize) + 255) / 256 * 256, 256);
  const size_t limit = OutEstimate > 0 ? static_cast<size_t>(OutEstimate) + 1
                                       : static_cast<size_t>(ZMaxUnknownOutput);
  std::vector<uint8_t> out(OutEstimate > 0 ? limit : std::min(step, limit));
  z_stream zs = NewStream(InBuf, InSize);
  Room(zs, out, 0);
  Check<EDecompressionError>(inflateInit(&zs));
  try {
    for (;;) {
      const uInt inBefore = zs.avail_in;
      const uInt outBefore = zs.avail_out;
      const int code = Check<EDecompressionError>(inflate(&zs, Z_NO_FLUSH));
      if (code == Z_STREAM_END) break;
      if (code != Z_OK) throw EDecompressionError("error");  // needs a dictionary
      if (zs.avail_out == 0) {
        // Wants more room: grow by one step, but never beyond the limit.
        const size_t used = out.size();
        if (used >= limit) throw EDecompressionError("error");
        out.resize(std::min(used + step, limit));
        Room(zs, out, used);
      } else if (zs.avail_in == 0 || (zs.avail_in == inBefore && zs.avail_out == outBefore)) {
        // The input is used up before the end of the stream, or no progress.
        throw EDecompressionError("error");
      }
    }
  } catch (...) {
    inflateEnd(&zs);
    throw;
  }
  Check<EDecompressionError>(inflateEnd(&zs));
  out.resize(zs.total_out);
  OutSize = static_cast<int32_t>(out.size());
  OutBuf = std::move(out);
}

}  // namespace zk
