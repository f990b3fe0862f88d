#include "container/compress/SFSCompress.h"

#include <cstring>
#include <exception>

#include "container/compress/PPMCoder.h"
#include "container/compress/SFSBZip2.h"
#include "container/compress/SFSZlib.h"

namespace zk {

namespace {

constexpr uint32_t PPMVariant = 6;

struct TPPMParams {
  int MaxOrder;
  int ModelMemoryMB;
};

TPPMParams PPMParamsOf(uint8_t Method) {
  switch (Method) {
    case 3:
      return {5, 25};
    case 4:
      return {13, 50};
    default:
      return {3, 10};
  }
}

int ZlibLevelOf(uint8_t Method) {
  return Method == 1 ? 1 : (Method == 2 ? 5 : 9);
}
int BZip2BlockSizeOf(uint8_t Method) {
  return Method == 7 ? 2 : (Method == 8 ? 6 : 9);
}

bool IsZlib(uint8_t Method) {
  return Method == 1 || Method == 2 || Method == 5;
}
bool IsBZip2(uint8_t Method) {
  return Method >= 7 && Method <= 9;
}
bool IsPPM(uint8_t Method) {
  return Method == 3 || Method == 4 || Method == 6;
}

}  // namespace

int32_t BlockSizeForMethod(uint8_t Method) {
  switch (Method) {
    case 1:
    case 6:
    case 7:
      return 524288;
    case 4:
    case 5:
    case 9:
      return 1572864;
    default:
      return 1048576;
  }
}

uint32_t PPMInfoWord(int MaxOrder, int ModelMemoryMB) {
  return static_cast<uint32_t>((MaxOrder - 1) & 0xF) |
         (static_cast<uint32_t>((ModelMemoryMB - 1) & 0xFF) << 4) | (PPMVariant << 12);
}

int32_t PPMCompressBuf(const void* InBuf, int32_t InSize, std::vector<uint8_t>& OutBuf,
                       int MaxOrder, int ModelMemoryMB) {
  if (InSize < 0 || (InSize > 0 && InBuf == nullptr)) return 0;
  if (MaxOrder < 1 || MaxOrder > 16 || ModelMemoryMB < 1 || ModelMemoryMB > 256) return 0;
  try {
    if (OutBuf.size() < 4) OutBuf.resize(4);
    const uint32_t info = PPMInfoWord(MaxOrder, ModelMemoryMB);
    for (int i = 0; i < 4; ++i) OutBuf[i] = static_cast<uint8_t>(info >> (8 * i));
    TPPMModel model(MaxOrder, ModelMemoryMB);
    const size_t end =
        model.Encode(static_cast<const uint8_t*>(InBuf), static_cast<size_t>(InSize), OutBuf, 4);
    if (end > static_cast<size_t>(INT32_MAX)) return 0;
    return static_cast<int32_t>(end);
  } catch (const std::exception&) {
    return 0;
  }
}

int32_t PPMDecompressBuf(const void* InBuf, int32_t InSize, std::span<uint8_t> OutBuf) {
  // The info word and the coder's first 4 bytes at least.
  if (InSize < 8 || InBuf == nullptr) return 0;
  const auto* in = static_cast<const uint8_t*>(InBuf);
  const uint32_t info = static_cast<uint32_t>(in[0]) | (static_cast<uint32_t>(in[1]) << 8) |
                        (static_cast<uint32_t>(in[2]) << 16) | (static_cast<uint32_t>(in[3]) << 24);
  if (((info >> 12) & 0xF) != PPMVariant) return 0;
  const int maxOrder = static_cast<int>(info & 0xF) + 1;
  const int memoryMB = static_cast<int>((info >> 4) & 0xFF) + 1;
  try {
    TPPMModel model(maxOrder, memoryMB);
    const size_t n = model.Decode(in + 4, static_cast<size_t>(InSize) - 4, OutBuf);
    return static_cast<int32_t>(n);
  } catch (const std::exception&) {
    return 0;
  }
}

namespace {
// The end of both dispatchers: a result of no bytes is a failure that hands
// back no buffer.
bool Succeeded(std::vector<uint8_t>& OutBuf, int32_t& OutSize) {
  if (OutSize > 0) return true;
  OutBuf.clear();
  OutSize = 0;
  return false;
}
}  // namespace

bool CompressBuffer(const void* InBuf, int32_t InSize, std::vector<uint8_t>& OutBuf, uint8_t Method,
                    int32_t& OutSize) {
  OutBuf.clear();
  OutSize = 0;
  if (InSize <= 0 || InBuf == nullptr || Method >= 10) return false;
  try {
    if (Method == 0) {
      const auto* in = static_cast<const uint8_t*>(InBuf);
      OutBuf.assign(in, in + InSize);
      OutSize = InSize;
      return true;
    }
    if (IsZlib(Method)) {
      ZCompressBuf(InBuf, InSize, OutBuf, OutSize, ZlibLevelOf(Method));
    } else if (IsBZip2(Method)) {
      BZCompressBuf(InBuf, InSize, OutBuf, OutSize, BZip2BlockSizeOf(Method));
    } else if (IsPPM(Method)) {
      const size_t in = static_cast<size_t>(InSize);
      OutBuf.assign(in + in / 20 + 50, 0);
      const TPPMParams params = PPMParamsOf(Method);
      OutSize = PPMCompressBuf(InBuf, InSize, OutBuf, params.MaxOrder, params.ModelMemoryMB);
      OutBuf.resize(static_cast<size_t>(OutSize));
    }
  } catch (...) {
    OutSize = 0;
  }
  return Succeeded(OutBuf, OutSize);
}

bool DecompressBuffer(const void* InBuf, int32_t InSize, std::vector<uint8_t>& OutBuf,
                      uint8_t Method, int32_t& OutSize) {
  if (OutSize <= 0 || Method >= 10) return false;
  const int32_t expected = OutSize;
  OutBuf.clear();
  OutSize = 0;
  if (InSize < 0 || (InSize > 0 && InBuf == nullptr)) return false;
  try {
    if (Method == 0) {
      const auto* in = static_cast<const uint8_t*>(InBuf);
      OutBuf.assign(in, in + InSize);
      OutSize = InSize;
      return true;
    }
    if (IsZlib(Method)) {
      ZDecompressBuf(InBuf, InSize, expected, OutBuf, OutSize);
    } else if (IsBZip2(Method)) {
      BZDecompressBuf(InBuf, InSize, expected, OutBuf, OutSize);
    } else {
      OutBuf.assign(static_cast<size_t>(expected), 0);
      OutSize = PPMDecompressBuf(InBuf, InSize, OutBuf);
      OutBuf.resize(static_cast<size_t>(OutSize));
    }
  } catch (...) {
    OutSize = 0;
  }
  return Succeeded(OutBuf, OutSize);
}

}  // namespace zk
