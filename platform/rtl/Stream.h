// The class library's abstract stream (read, write, seek and size protocol)
// and the memory stream. Seek origins: 0 from the beginning, 1 from the
// current position, 2 from the end.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/rtl/Exception.h"

namespace zk {

enum TSeekOrigin : uint16_t { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class TStream {
 public:
  virtual ~TStream() = default;

  // Transfer up to Count bytes; return how many moved (0 at the end).
  virtual int32_t Read(void* Buffer, int32_t Count) = 0;
  virtual int32_t Write(const void* Buffer, int32_t Count) = 0;

  // The 64-bit seek is the one streams implement; the 32-bit form calls it.
  virtual int64_t Seek(int64_t Offset, uint16_t Origin) = 0;
  int32_t Seek32(int32_t Offset, uint16_t Origin) {
    return static_cast<int32_t>(Seek(static_cast<int64_t>(Offset), Origin));
  }

  int64_t GetPosition() { return Seek(0, soCurrent); }
  void SetPosition(int64_t Pos) { Seek(Pos, soBeginning); }
  // The size found by seeking to the end and back.
  virtual int64_t GetSize();
  // Streams that can change their size override this; the base does nothing.
  virtual void SetSize(int64_t NewSize);
  // The 32-bit form of SetSize, as the class library offers it.
  void SetSize32(int32_t NewSize) { SetSize(static_cast<int64_t>(NewSize)); }

  // Exactly Count bytes or "Stream read error" / "Stream write error".
  void ReadBuffer(void* Buffer, int32_t Count);
  void WriteBuffer(const void* Buffer, int32_t Count);

  // Copies Count bytes from Source's position; Count 0 copies the whole Source
  // from position 0. Returns the count copied.
  int64_t CopyFrom(TStream& Source, int64_t Count);
};

class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;

  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, uint16_t Origin) override;
  int64_t GetSize() override { return FSize; }
  void SetSize(int64_t NewSize) override;

  uint8_t* Memory() { return FData.data(); }
  const uint8_t* Memory() const { return FData.data(); }
  void Clear();
  void LoadFromStream(TStream& Source);
  void SaveToStream(TStream& Dest);

 private:
  void SetCapacity(int64_t NewCapacity);

  std::vector<uint8_t> FData;
  int64_t FSize = 0;
  int64_t FPosition = 0;
};

}  // namespace zk
