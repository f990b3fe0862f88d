// The class library's file stream: a TStream over one file of the host file
// system, opened or created by name (an ANSI text, converted at the system
// call). The stream owns its file handle and closes it when destroyed.
#pragma once

#include <cstdint>

#include "platform/rtl/AnsiString.h"
#include "platform/rtl/Exception.h"
#include "platform/rtl/Stream.h"

namespace zk {

// Open modes: fmCreate creates the file (an existing one is emptied); the others
// open an existing file for reading, writing, or both.
constexpr uint16_t fmCreate = 0xFFFF;
constexpr uint16_t fmOpenRead = 0x0000;
constexpr uint16_t fmOpenWrite = 0x0001;
constexpr uint16_t fmOpenReadWrite = 0x0002;

// "Cannot open file "<name>". <reason>" / "Cannot create file "<name>". <reason>"
class EFOpenError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EFCreateError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

class TFileStream : public TStream {
 public:
  TFileStream(const AnsiString& FileName, uint16_t Mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, uint16_t Origin) override;
  // Cuts or extends the file; raises EWriteError when the system refuses.
  void SetSize(int64_t NewSize) override;

  const AnsiString& FileName() const { return FFileName; }
  // True when OtherName names this very file (another path or spelling of it);
  // false when it names another file or none.
  bool SameFile(const AnsiString& OtherName) const;

 private:
  AnsiString FFileName;
  intptr_t FHandle = -1;
};

}  // namespace zk
