#include "container/storage/SFSMemoryFile.h"

#include <limits>
#include <new>
#include <stdexcept>

#include "platform/rtl/Exception.h"

namespace zk {

namespace {

// No store in memory grows beyond this: far more than any address space
// holds, and small enough that the stream's growth arithmetic cannot
// overflow.
constexpr int64_t MaxMemorySize = std::numeric_limits<int64_t>::max() / 4;

}  // namespace

TSFSMemoryFile::TSFSMemoryFile(AnsiString FileName, bool ReadOnly, bool Exclusive)
    : TSFSAbstractFile(std::move(FileName), ReadOnly, Exclusive) {}

TSFSMemoryFile::~TSFSMemoryFile() {
  Close();
}

void TSFSMemoryFile::SetSize(int64_t Value) {
  if (!FStream) throw Exception("TSFSMemoryFile.SetSize - File is not open.");
  if (Value > MaxMemorySize) throw Exception("TSFSMemoryFile.SetSize - Out of memory.");
  try {
    FStream->SetSize(Value);
  } catch (const std::bad_alloc&) {
    throw Exception("TSFSMemoryFile.SetSize - Out of memory.");
  } catch (const std::length_error&) {
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
  // A position that cannot be counted is a failed seek; the position stays.
  int64_t base = 0;
  if (Origin == 1)
    base = FStream->GetPosition();
  else if (Origin == 2)
    base = FStream->GetSize();
  int64_t target;
  if (__builtin_add_overflow(base, Offset, &target)) return -1;
  return FStream->Seek(Offset, Origin);
}

int32_t TSFSMemoryFile::Write(const void* Buffer, int32_t Count) {
  if (!FStream) return -1;
  if (Count > 0 && FStream->GetPosition() > MaxMemorySize - Count) return 0;
  try {
    return FStream->Write(Buffer, Count);
  } catch (const std::bad_alloc&) {
    return 0;  // a short write: the store could not grow
  } catch (const std::length_error&) {
    return 0;
  }
}

}  // namespace zk
