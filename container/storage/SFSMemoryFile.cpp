#include "container/storage/SFSMemoryFile.h"

#include <new>

#include "platform/rtl/Exception.h"

namespace zk {

TSFSMemoryFile::TSFSMemoryFile(AnsiString FileName, bool ReadOnly, bool Exclusive)
    : TSFSAbstractFile(std::move(FileName), ReadOnly, Exclusive) {}

TSFSMemoryFile::~TSFSMemoryFile() {
  Close();
}

void TSFSMemoryFile::SetSize(int64_t Value) {
  if (!FStream) throw Exception("TSFSMemoryFile.SetSize - File is not open.");
  try {
    FStream->SetSize(Value);
  } catch (const std::bad_alloc&) {
    throw Exception("TSFSMemoryFile.SetSize - Out of memory.");
  }
}

void TSFSMemoryFile::Close() {
  FStream.reset();
}

bool TSFSMemoryFile::Open(bool CreateNew) {
  if (!CreateNew)
    throw Exception("TSFSMemoryFile.Open - File cannot be open, only creation is available.");
  try {
    FStream = std::make_unique<TMemoryStream>();
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

int32_t TSFSMemoryFile::Read(void* Buffer, int32_t Count) {
  if (!FStream) return -1;
  return FStream->Read(Buffer, Count);
}

int64_t TSFSMemoryFile::Seek(int64_t Offset, uint16_t Origin) {
  if (!FStream) return -1;
  return FStream->Seek(Offset, Origin);
}

int32_t TSFSMemoryFile::Write(const void* Buffer, int32_t Count) {
  if (!FStream) return -1;
  try {
    return FStream->Write(Buffer, Count);
  } catch (const std::bad_alloc&) {
    return 0;  // a short write: the store could not grow
  }
}

}  // namespace zk
