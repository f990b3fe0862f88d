#include "container/storage/SFSAbstractFile.h"

#include <algorithm>
#include <vector>

#include "platform/rtl/Exception.h"

namespace zk {

TSFSAbstractFile::TSFSAbstractFile(AnsiString FileName, bool ReadOnly, bool Exclusive)
    : FFileName(std::move(FileName)), FExclusive(Exclusive), FReadOnly(ReadOnly) {}

void TSFSAbstractFile::SetExclusive(bool Value) {
  FExclusive = Value;
}
void TSFSAbstractFile::SetPosition(int64_t Value) {
  Seek(Value, 0);
}
int64_t TSFSAbstractFile::GetPosition() {
  return Seek(0, 1);
}
void TSFSAbstractFile::SetReadOnly(bool Value) {
  FReadOnly = Value;
}

int64_t TSFSAbstractFile::GetSize() {
  const int64_t position = Seek(0, 1);
  const int64_t size = Seek(0, 2);
  Seek(position, 0);
  return size;
}

void TSFSAbstractFile::ReadBuffer(void* Buffer, int32_t Count) {
  if (Count != 0 && Read(Buffer, Count) != Count)
    throw Exception("TSFSAbstractFile.ReadBuffer - Stream read error");
}

void TSFSAbstractFile::WriteBuffer(const void* Buffer, int32_t Count) {
  if (Count != 0 && Write(Buffer, Count) != Count)
    throw Exception("TSFSAbstractFile.WriteBuffer - Stream write error");
}

int64_t TSFSAbstractFile::CopyFrom(TSFSAbstractFile& Source, int64_t Count) {
  constexpr int64_t ChunkSize = 61440;
  if (Count == 0) {
    Source.SetPosition(0);
    Count = Source.GetSize();
  }
  if (Count <= 0) return Count;
  std::vector<uint8_t> buffer(static_cast<size_t>(std::min(Count, ChunkSize)));
  for (int64_t remaining = Count; remaining > 0;) {
    const auto n =
        static_cast<int32_t>(std::min<int64_t>(remaining, static_cast<int64_t>(buffer.size())));
    Source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    remaining -= n;
  }
  return Count;
}

void TSFSAbstractFile::Reopen() {
  const int64_t position = GetPosition();
  Close();
  Open(false);
  SetPosition(position);
}

}  // namespace zk
