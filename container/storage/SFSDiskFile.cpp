#include "container/storage/SFSDiskFile.h"

namespace zk {

TSFSDiskFile::TSFSDiskFile(AnsiString FileName, bool ReadOnly, bool Exclusive)
    : TSFSAbstractFile(std::move(FileName), ReadOnly, Exclusive) {}

TSFSDiskFile::~TSFSDiskFile() {
  Close();
}

void TSFSDiskFile::ChangeFlag(bool& Flag, bool Value) {
  if (Flag == Value) return;
  Flag = Value;
  // A closed file stays closed: the flag applies at its next open.
  if (!IsOpen()) return;
  const int64_t position = GetPosition();
  Close();
  if (Open(false)) {
    SetPosition(position);
    return;
  }
  // Back to the flag the file was open with, so it stays usable, and the
  // reason the new one failed goes to the caller.
  const int code = os::FileSystem().LastError();
  Flag = !Value;
  if (Open(false)) SetPosition(position);
  throw os::MakeOSError(code);
}

void TSFSDiskFile::SetExclusive(bool Value) {
  ChangeFlag(FExclusive, Value);
}
void TSFSDiskFile::SetReadOnly(bool Value) {
  ChangeFlag(FReadOnly, Value);
}

void TSFSDiskFile::SetSize(int64_t Value) {
  if (Seek(Value, 0) < 0 || !os::FileSystem().SetEndOfFile(FHandle)) os::RaiseLastOSError();
}

void TSFSDiskFile::Close() {
  if (!IsOpen()) return;
  os::IFileSystem& fs = os::FileSystem();
  fs.Flush(FHandle);
  fs.Close(FHandle);
  FHandle = os::InvalidFileHandle;
}

void TSFSDiskFile::Flush() {
  if (IsOpen()) os::FileSystem().Flush(FHandle);
}

bool TSFSDiskFile::Open(bool CreateNew) {
  Close();
  FHandle = os::FileSystem().Open(
      FFileName, FReadOnly ? os::TFileAccess::Read : os::TFileAccess::ReadWrite,
      FExclusive ? os::TFileShare::Exclusive : os::TFileShare::ShareReadWrite,
      CreateNew ? os::TFileCreation::CreateAlways : os::TFileCreation::OpenExisting,
      os::fhRandomAccess);
  return IsOpen();
}

int32_t TSFSDiskFile::Read(void* Buffer, int32_t Count) {
  return os::FileSystem().Read(FHandle, Buffer, Count);
}

int64_t TSFSDiskFile::Seek(int64_t Offset, uint16_t Origin) {
  return os::FileSystem().Seek(FHandle, Offset, Origin);
}

int32_t TSFSDiskFile::Write(const void* Buffer, int32_t Count) {
  if (Count == 0) return os::FileSystem().SetEndOfFile(FHandle) ? 0 : -1;
  return os::FileSystem().Write(FHandle, Buffer, Count);
}

}  // namespace zk
