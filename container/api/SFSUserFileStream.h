// TSFSUserFileStream: the raw stream over one file inside a container. It
// delivers the file's bytes exactly as they lie in its data pages, through one
// handle of the container object, which it opens on construction and closes on
// destruction. It keeps no position of its own: the position is the handle's.
// The container object is not owned and must outlive the stream.
#pragma once

#include <cstdint>

#include "platform/rtl/AnsiString.h"
#include "platform/rtl/Stream.h"

namespace zk {

class TSingleFileSystem;

class TSFSUserFileStream : public TStream {
 public:
  // Opens FileName (Mode 0xFFFF creates or replaces it). Raises
  // "TSFSUserFileStream.Create - Single file system = nil!" without a
  // container, and "TSFSUserFileStream.Create - unable to open file " with the
  // quoted name when the file cannot be opened or created.
  TSFSUserFileStream(TSingleFileSystem* FileSystem, const AnsiString& FileName, uint16_t Mode,
                     const AnsiString& Password = {}, const AnsiString& Question = {},
                     const AnsiString& Answer = {});
  ~TSFSUserFileStream() override;
  TSFSUserFileStream(const TSFSUserFileStream&) = delete;
  TSFSUserFileStream& operator=(const TSFSUserFileStream&) = delete;

  int32_t Read(void* Buffer, int32_t Count) override;
  // 0 on a stream opened read only.
  int32_t Write(const void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, uint16_t Origin) override;
  // Changes the file's size and moves the position there; on a stream
  // opened read only nothing changes.
  void SetSize(int64_t NewSize) override;

  TSingleFileSystem& FileSystem() const { return *FFileSystem; }
  const AnsiString& FileName() const { return FFileName; }
  int32_t Handle() const { return FHandle; }

 private:
  TSingleFileSystem* FFileSystem;  // not owned
  AnsiString FFileName;
  int32_t FHandle = -1;
};

}  // namespace zk
