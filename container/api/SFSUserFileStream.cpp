#include "container/api/SFSUserFileStream.h"

#include "container/api/SingleFileSystem.h"
#include "platform/rtl/Exception.h"

namespace zk {

TSFSUserFileStream::TSFSUserFileStream(TSingleFileSystem* FileSystem, const AnsiString& FileName,
                                       uint16_t Mode, const AnsiString& Password,
                                       const AnsiString& Question, const AnsiString& Answer)
    : FFileSystem(FileSystem), FFileName(FileName) {
  if (FFileSystem == nullptr) {
    throw Exception("TSFSUserFileStream.Create - Single file system = nil!");
  }
  FHandle = FFileSystem->OpenFile(FileName, Mode, Password, Question, Answer);
  if (FHandle < 0) {
    throw Exception("TSFSUserFileStream.Create - unable to open file " + QuoteText(FileName));
  }
}

TSFSUserFileStream::~TSFSUserFileStream() {
  FFileSystem->CloseFile(FHandle);
}

int32_t TSFSUserFileStream::Read(void* Buffer, int32_t Count) {
  return FFileSystem->FileRead(FHandle, Buffer, Count);
}

int32_t TSFSUserFileStream::Write(const void* Buffer, int32_t Count) {
  return FFileSystem->FileWrite(FHandle, Buffer, Count);
}

int64_t TSFSUserFileStream::Seek(int64_t Offset, uint16_t Origin) {
  return FFileSystem->FileSeek(FHandle, Offset, Origin);
}

void TSFSUserFileStream::SetSize(int64_t NewSize) {
  // A read-only handle's -6 is dropped: the size simply stays.
  FFileSystem->SetFileSize(FHandle, NewSize);
}

}  // namespace zk
