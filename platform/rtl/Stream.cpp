#include "platform/rtl/Stream.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

namespace zk {

namespace {
// Sizes and positions stay far from the end of the 64-bit range, so their
// arithmetic cannot overflow.
constexpr int64_t MaxMemoryStreamSize = INT64_MAX / 4;
}  // namespace

int64_t TStream::GetSize() {
  int64_t pos = Seek(0, soCurrent);
  int64_t size = Seek(0, soEnd);
  Seek(pos, soBeginning);
  return size;
}

void TStream::SetSize(int64_t) {}

void TStream::ReadBuffer(void* Buffer, int32_t Count) {
  if (Count != 0 && Read(Buffer, Count) != Count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* Buffer, int32_t Count) {
  if (Count != 0 && Write(Buffer, Count) != Count) throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& Source, int64_t Count) {
  constexpr int32_t MaxBufSize = 0xF000;
  if (Count == 0) {
    Source.SetPosition(0);
    Count = Source.GetSize();
  }
  const int64_t result = Count;
  std::vector<uint8_t> buffer(
      static_cast<size_t>(std::min<int64_t>(std::max<int64_t>(Count, 1), MaxBufSize)));
  while (Count > 0) {
    int32_t n = static_cast<int32_t>(std::min<int64_t>(Count, MaxBufSize));
    Source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    Count -= n;
  }
  return result;
}

int32_t TMemoryStream::Read(void* Buffer, int32_t Count) {
  if (Count <= 0 || FPosition < 0 || FPosition >= FSize) return 0;
  int64_t n = std::min<int64_t>(Count, FSize - FPosition);
  std::memcpy(Buffer, FData.data() + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return static_cast<int32_t>(n);
}

int32_t TMemoryStream::Write(const void* Buffer, int32_t Count) {
  if (Count <= 0 || FPosition < 0 || FPosition > MaxMemoryStreamSize - Count) return 0;
  int64_t end = FPosition + Count;
  if (end > FSize) {
    if (end > static_cast<int64_t>(FData.size())) SetCapacity(end);
    // Bytes between the old end and a position seeked beyond it read as zero.
    if (FPosition > FSize)
      std::memset(FData.data() + FSize, 0, static_cast<size_t>(FPosition - FSize));
    FSize = end;
  }
  std::memcpy(FData.data() + FPosition, Buffer, static_cast<size_t>(Count));
  FPosition = end;
  return Count;
}

int64_t TMemoryStream::Seek(int64_t Offset, uint16_t Origin) {
  switch (Origin) {
    case soBeginning:
      FPosition = Offset;
      break;
    case soCurrent:
      if (__builtin_add_overflow(FPosition, Offset, &FPosition))
        FPosition = Offset > 0 ? INT64_MAX : INT64_MIN;
      break;
    case soEnd:
      if (__builtin_add_overflow(FSize, Offset, &FPosition)) FPosition = INT64_MAX;
      break;
    default:
      break;
  }
  return FPosition;
}

void TMemoryStream::SetCapacity(int64_t NewCapacity) {
  if (NewCapacity > MaxMemoryStreamSize)
    throw EStreamError("Out of memory while expanding memory stream");
  // Grow in 8 KiB steps, and at least by half, so appends stay amortised.
  int64_t rounded = (NewCapacity + 8191) & ~int64_t(8191);
  int64_t grown = static_cast<int64_t>(FData.size()) + static_cast<int64_t>(FData.size()) / 2;
  try {
    FData.resize(static_cast<size_t>(std::max(rounded, grown)));
  } catch (const std::exception&) {
    throw EStreamError("Out of memory while expanding memory stream");
  }
}

void TMemoryStream::SetSize(int64_t NewSize) {
  if (NewSize < 0) NewSize = 0;
  int64_t old = FSize;
  if (NewSize > static_cast<int64_t>(FData.size())) SetCapacity(NewSize);
  if (NewSize > old) std::memset(FData.data() + old, 0, static_cast<size_t>(NewSize - old));
  FSize = NewSize;
  if (FPosition > NewSize) FPosition = NewSize;
}

void TMemoryStream::Clear() {
  FData.clear();
  FData.shrink_to_fit();
  FSize = 0;
  FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream& Source) {
  // The memory grows as the bytes arrive, so a source that states a size it
  // cannot deliver never makes an allocation of that size; a short source
  // still raises the read error.
  Source.SetPosition(0);
  const int64_t count = Source.GetSize();
  Clear();
  constexpr int32_t Chunk = 1 << 20;
  int64_t done = 0;
  while (done < count) {
    int32_t n = static_cast<int32_t>(std::min<int64_t>(count - done, Chunk));
    SetSize(done + n);
    Source.ReadBuffer(FData.data() + done, n);
    done += n;
  }
  FPosition = 0;
}

void TMemoryStream::SaveToStream(TStream& Dest) {
  int64_t done = 0;
  while (done < FSize) {
    int32_t n =
        static_cast<int32_t>(std::min<int64_t>(FSize - done, std::numeric_limits<int32_t>::max()));
    Dest.WriteBuffer(FData.data() + done, n);
    done += n;
  }
}

}  // namespace zk
