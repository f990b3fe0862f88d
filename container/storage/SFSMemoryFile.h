// TSFSMemoryFile: a backing file held in memory. Owns its memory stream while
// open; closing or destroying it discards the bytes.
#pragma once

#include <memory>

#include "container/storage/SFSAbstractFile.h"
#include "platform/rtl/Stream.h"

namespace zk {

class TSFSMemoryFile : public TSFSAbstractFile {
 public:
  TSFSMemoryFile(AnsiString FileName, bool ReadOnly, bool Exclusive);
  ~TSFSMemoryFile() override;

  // A size the memory cannot hold raises "TSFSMemoryFile.SetSize - Out of
  // memory."; a write that cannot grow the store is short, a seek to a
  // position that cannot be counted returns -1.
  void SetSize(int64_t Value) override;
  void Close() override;
  void Flush() override {}
  // Only creation: Open(false) raises "TSFSMemoryFile.Open - File cannot be
  // open, only creation is available.".
  bool Open(bool CreateNew) override;
  int32_t Read(void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, uint16_t Origin) override;
  int32_t Write(const void* Buffer, int32_t Count) override;

  bool IsOpen() const { return FStream != nullptr; }
  TMemoryStream* Stream() { return FStream.get(); }

 private:
  std::unique_ptr<TMemoryStream> FStream;
};

}  // namespace zk
