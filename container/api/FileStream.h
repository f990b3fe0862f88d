// TSFSFileStream: the stream over one file inside a container that everything
// outside the container API uses. It always works through a compressed block
// stream (TSFSAdvancedFileStream, which keeps its blocks in a raw stream of
// the same file), refuses writing and resizing when it was opened read only,
// and hands its progress event down before every read and write. Tv9Stream is
// the same stream with the short constructor of the database component.
//
// It owns its compressed block stream, and through it one open handle of the
// container object, from construction to destruction. The container object
// is not owned and must outlive the stream.
#pragma once

#include <cstdint>
#include <memory>

#include "container/api/AdvancedFileStream.h"
#include "platform/rtl/AnsiString.h"
#include "platform/rtl/Stream.h"

namespace zk {

class TSingleFileSystem;

class TSFSFileStream : public TStream {
 public:
  // Mode 0xFFFF creates (or replaces) the file with Password, Question,
  // Answer and Compression (0: the container's default method); any other
  // mode opens it with Password only. (Mode and 3) = 0 is read only.
  TSFSFileStream(TSingleFileSystem* FileSystem, const AnsiString& FileName, uint16_t Mode,
                 const AnsiString& Password = {}, const AnsiString& Question = {},
                 const AnsiString& Answer = {}, uint8_t Compression = 0);
  // Over a compressed block stream made by the caller, which it then owns.
  TSFSFileStream(std::unique_ptr<TSFSAdvancedFileStream> Stream, uint16_t Mode,
                 const AnsiString& Password = {});
  ~TSFSFileStream() override;
  TSFSFileStream(const TSFSFileStream&) = delete;
  TSFSFileStream& operator=(const TSFSFileStream&) = delete;

  int32_t Read(void* Buffer, int32_t Count) override;
  // Raises "TSFSFileStream.Write - file is in read only mode." when read only.
  int32_t Write(const void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, uint16_t Origin) override;
  // Raises "TSFSFileStream.SetSize - file is in read only mode." when read only.
  void SetSize(int64_t NewSize) override;

  // Copied into the compressed block stream before every read and write.
  TStreamProgressEvent OnProgress;

  TSFSAdvancedFileStream& Stream() const { return *FStream; }
  uint16_t Mode() const { return FMode; }
  const AnsiString& FileName() const { return FFileName; }
  const AnsiString& Password() const { return FPassword; }
  bool ReadOnly() const { return FReadOnly; }

 private:
  std::unique_ptr<TSFSAdvancedFileStream> FStream;
  uint16_t FMode = 0;
  AnsiString FFileName;
  AnsiString FPassword;
  bool FReadOnly = false;
};

class Tv9Stream : public TSFSFileStream {
 public:
  Tv9Stream(TSingleFileSystem* FileSystem, const AnsiString& FileName, uint16_t Mode,
            uint8_t Compression = 0)
      : TSFSFileStream(FileSystem, FileName, Mode, {}, {}, {}, Compression) {}
};

}  // namespace zk
