// TSFSDiskFile: a backing file that is an operating-system file, reached
// through the platform's file system. Owns its handle while open; closing
// (or destroying) flushes and releases it.
#pragma once

#include "container/storage/SFSAbstractFile.h"
#include "platform/os/FileSystem.h"

namespace zk {

class TSFSDiskFile : public TSFSAbstractFile {
 public:
  TSFSDiskFile(AnsiString FileName, bool ReadOnly, bool Exclusive);
  ~TSFSDiskFile() override;

  // Store the flag; an open file is reopened with it when it changed. When
  // the file cannot be opened with the new flag, the old one is restored
  // (and the file reopened with it) and the operating-system error raised.
  void SetExclusive(bool Value) override;
  void SetReadOnly(bool Value) override;
  // Cuts or extends the file to Value bytes and leaves the position there;
  // a failure raises the operating-system error.
  void SetSize(int64_t Value) override;
  void Close() override;
  void Flush() override;
  bool Open(bool CreateNew) override;
  int32_t Read(void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, uint16_t Origin) override;
  // Count 0 cuts the file at the current position and returns 0.
  int32_t Write(const void* Buffer, int32_t Count) override;

  os::TFileHandle Handle() const { return FHandle; }
  bool IsOpen() const { return FHandle != os::InvalidFileHandle; }

 private:
  void ChangeFlag(bool& Flag, bool Value);

  os::TFileHandle FHandle = os::InvalidFileHandle;
};

}  // namespace zk
