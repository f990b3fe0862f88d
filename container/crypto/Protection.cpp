#include "container/crypto/Protection.h"

#include <algorithm>
#include <vector>

#include "platform/rtl/FileStream.h"

namespace zk {

namespace {
constexpr int32_t ChunkSize = 4096;
}  // namespace

TProtection::TProtection(std::shared_ptr<TProtection> Protection) {
  SetNextProtection(std::move(Protection));
}

TProtection::~TProtection() = default;

void TProtection::SetNextProtection(std::shared_ptr<TProtection> Value) {
  if (Value == FNextProtection) return;
  for (const TProtection* p = Value.get(); p != nullptr; p = p->FNextProtection.get()) {
    if (p == this) throw EProtection("Circular Protection detected, Protection Object is invalid.");
  }
  FNextProtection = std::move(Value);
}

void TProtection::BeginProcess(TProtectionAction Action) {
  if (FNextProtection) FNextProtection->BeginProcess(Action);
}

void TProtection::EndProcess(TProtectionAction Action) {
  if (FNextProtection) FNextProtection->EndProcess(Action);
}

void TProtection::ProcessChunk(void* Buffer, int32_t Size, TProtectionAction Action) {
  if (FNextProtection) FNextProtection->ProcessChunk(Buffer, Size, Action);
}

int32_t TProtection::ProcessBuffer(void* Buffer, int32_t Size, TProtectionAction Action) {
  BeginProcess(Action);
  try {
    ProcessChunk(Buffer, Size, Action);
  } catch (...) {
    EndProcess(Action);
    throw;
  }
  EndProcess(Action);
  return Size;
}

void TProtection::ProcessStream(TStream* Source, TStream* Dest, int64_t Size,
                                TProtectionAction Action) {
  if (Source == nullptr) return;
  if (Dest == nullptr) Dest = Source;
  int64_t sourcePos;
  if (Size < 0) {
    sourcePos = 0;
    Size = Source->GetSize();
  } else {
    sourcePos = Source->GetPosition();
  }
  // Both positions run separately, so Source and Dest may be one stream.
  int64_t destPos = Dest == Source ? sourcePos : Dest->GetPosition();
  BeginProcess(Action);
  try {
    std::vector<uint8_t> buffer(static_cast<size_t>(std::clamp<int64_t>(Size, 1, ChunkSize)));
    while (Size > 0) {
      const auto want = static_cast<int32_t>(std::min<int64_t>(Size, ChunkSize));
      Source->Seek(sourcePos, soBeginning);
      const int32_t got = Source->Read(buffer.data(), want);
      if (got <= 0) break;
      sourcePos += got;
      Size -= got;
      ProcessChunk(buffer.data(), got, Action);
      if (Action != paDigest) {
        Dest->Seek(destPos, soBeginning);
        Dest->WriteBuffer(buffer.data(), got);
        destPos += got;
      }
    }
    Source->Seek(sourcePos, soBeginning);
    if (Action != paDigest && Dest != Source) Dest->Seek(destPos, soBeginning);
  } catch (...) {
    EndProcess(Action);
    throw;
  }
  EndProcess(Action);
}

void TProtection::ProcessFile(const AnsiString& SourceName, const AnsiString& DestName,
                              TProtectionAction Action) {
  if (Action == paDigest) {
    // Only reads: the source alone, read-only, whatever the destination.
    TFileStream source(SourceName, fmOpenRead);
    ProcessStream(&source, nullptr, -1, Action);
    return;
  }
  if (!Trim(DestName).empty() && SourceName != DestName) {
    TFileStream source(SourceName, fmOpenRead);
    // Another spelling of the source (other case, "./", a link) must not be
    // created afresh: that would empty the source before it is read.
    if (!source.SameFile(DestName)) {
      TFileStream dest(DestName, fmCreate);
      ProcessStream(&source, &dest, -1, Action);
      dest.SetSize(dest.GetPosition());
      return;
    }
  }
  TFileStream source(SourceName, fmOpenReadWrite);
  ProcessStream(&source, nullptr, -1, Action);
}

AnsiString TProtection::ProcessString(const AnsiString& Text, TProtectionAction Action,
                                      int32_t FormatId) {
  if (Text.empty()) return {};
  const AnsiString bytes = Action == paDecode ? FormatToBytes(Text, FormatId) : Text;
  TMemoryStream memory;
  for (size_t done = 0; done < bytes.size();) {
    const auto n = static_cast<int32_t>(std::min<size_t>(bytes.size() - done, 1u << 30));
    memory.WriteBuffer(bytes.data() + done, n);
    done += static_cast<size_t>(n);
  }
  ProcessStream(&memory, nullptr, -1, Action);
  const auto* data = reinterpret_cast<const char*>(memory.Memory());
  const auto size = static_cast<size_t>(memory.GetSize());
  if (Action == paDecode) return AnsiString(data, size);
  return BytesToFormat(data, static_cast<int64_t>(size), FormatId);
}

}  // namespace zk
