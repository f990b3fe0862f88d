#include "container/api/FileStream.h"

#include "platform/rtl/Exception.h"
#include "platform/rtl/SecureMemory.h"

namespace zk {

namespace {

// 0xFFFF makes a new file and so counts as writable.
bool IsReadOnlyMode(uint16_t Mode) {
  return Mode != 0xFFFF && (Mode & 3) == 0;
}

}  // namespace

TSFSFileStream::TSFSFileStream(TSingleFileSystem* FileSystem, const AnsiString& FileName,
                               uint16_t Mode, const AnsiString& Password,
                               const AnsiString& Question, const AnsiString& Answer,
                               uint8_t Compression)
    : FMode(Mode), FFileName(FileName), FPassword(Password), FReadOnly(IsReadOnlyMode(Mode)) {
  // Question, answer and method matter only when the file is made.
  if (Mode == 0xFFFF) {
    FStream = std::make_unique<TSFSAdvancedFileStream>(FileSystem, FileName, Mode, Password,
                                                       Question, Answer, Compression);
  } else {
    FStream = std::make_unique<TSFSAdvancedFileStream>(FileSystem, FileName, Mode, Password,
                                                       AnsiString{}, AnsiString{}, uint8_t{0});
  }
  FStream->OnProgress = OnProgress;
}

TSFSFileStream::TSFSFileStream(std::unique_ptr<TSFSAdvancedFileStream> Stream, uint16_t Mode,
                               const AnsiString& Password)
    : FStream(std::move(Stream)),
      FMode(Mode),
      FPassword(Password),
      FReadOnly(IsReadOnlyMode(Mode)) {
  if (!FStream) throw Exception("TSFSFileStream.Create - stream = nil.");
  FFileName = FStream->FileName();
  FStream->OnProgress = OnProgress;
}

TSFSFileStream::~TSFSFileStream() {
  SecureErase(FPassword);
}

int32_t TSFSFileStream::Read(void* Buffer, int32_t Count) {
  FStream->OnProgress = OnProgress;
  return FStream->Read(Buffer, Count);
}

int32_t TSFSFileStream::Write(const void* Buffer, int32_t Count) {
  if (FReadOnly) throw Exception("TSFSFileStream.Write - file is in read only mode.");
  FStream->OnProgress = OnProgress;
  return FStream->Write(Buffer, Count);
}

int64_t TSFSFileStream::Seek(int64_t Offset, uint16_t Origin) {
  return FStream->Seek(Offset, Origin);
}

void TSFSFileStream::SetSize(int64_t NewSize) {
  if (FReadOnly) throw Exception("TSFSFileStream.SetSize - file is in read only mode.");
  FStream->SetSize(NewSize);
}

}  // namespace zk
