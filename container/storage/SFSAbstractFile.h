// TSFSAbstractFile: the byte-store interface under the multi-part file, a
// seekable store with 64-bit positions that can be opened, created, read,
// written, resized, flushed and closed. It holds the file name and the
// sharing and access flags, and implements what follows from the virtual
// operations (size, exact transfers, copying, reopening).
#pragma once

#include <cstdint>
#include <utility>

#include "platform/rtl/AnsiString.h"

namespace zk {

class TSFSAbstractFile {
 public:
  TSFSAbstractFile(AnsiString FileName, bool ReadOnly, bool Exclusive);
  virtual ~TSFSAbstractFile() = default;
  TSFSAbstractFile(const TSFSAbstractFile&) = delete;
  TSFSAbstractFile& operator=(const TSFSAbstractFile&) = delete;

  virtual void SetExclusive(bool Value);
  virtual void SetPosition(int64_t Value);
  virtual int64_t GetPosition();
  virtual void SetReadOnly(bool Value);
  virtual void SetSize(int64_t Value) = 0;
  // The size found by seeking to the end; the position is kept.
  virtual int64_t GetSize();
  virtual void Close() = 0;
  virtual void Flush() = 0;
  // CreateNew: create an empty store (truncating an existing file); else
  // open an existing one. False when that cannot be done.
  virtual bool Open(bool CreateNew) = 0;
  // Bytes transferred, or -1 when the call failed.
  virtual int32_t Read(void* Buffer, int32_t Count) = 0;
  // Origin 0 from the beginning, 1 from the current position, 2 from the
  // end. The new position, or -1 when the call failed.
  virtual int64_t Seek(int64_t Offset, uint16_t Origin) = 0;
  virtual int32_t Write(const void* Buffer, int32_t Count) = 0;

  // Exactly Count bytes, or "TSFSAbstractFile.ReadBuffer - Stream read error"
  // ("... WriteBuffer - Stream write error"); Count 0 does nothing.
  void ReadBuffer(void* Buffer, int32_t Count);
  void WriteBuffer(const void* Buffer, int32_t Count);
  // Copies Count bytes from Source's position to this position (Count 0:
  // the whole Source from its beginning). Returns the count copied.
  int64_t CopyFrom(TSFSAbstractFile& Source, int64_t Count);
  // Closes and opens the existing file again at the same position.
  void Reopen();

  const AnsiString& FileName() const { return FFileName; }
  void SetFileName(AnsiString Value) { FFileName = std::move(Value); }
  bool Exclusive() const { return FExclusive; }
  bool ReadOnly() const { return FReadOnly; }

 protected:
  AnsiString FFileName;
  bool FExclusive;
  bool FReadOnly;
};

}  // namespace zk
