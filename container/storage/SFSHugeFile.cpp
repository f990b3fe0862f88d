#include "container/storage/SFSHugeFile.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <string_view>

#include "container/storage/ContainerMagic.h"
#include "container/storage/SFSDiskFile.h"
#include "container/storage/SFSMemoryFile.h"
#include "platform/os/FileSystem.h"
#include "platform/os/SystemInfo.h"
#include "platform/rtl/Exception.h"

namespace zk {

namespace {

// "InternalOpen - 文件已被打开." in the ANSI code page (GBK).
const char* const AlreadyOpenMessage =
    "InternalOpen - \xCE\xC4\xBC\xFE\xD2\xD1\xB1\xBB\xB4\xF2\xBF\xAA.";

constexpr int32_t HeaderScanChunk = 65535;

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

// Index of the first byte of the file-name part: after the last separator,
// found by character so that a GBK trail byte 0x5C is no separator.
size_t NameStart(std::string_view path) {
  size_t start = 0;
  for (size_t i = 0; i < path.size(); i = CharNext(path, i))
    if (IsSeparator(path[i])) start = i + 1;
  return start;
}

AnsiString ExtractFilePath(std::string_view path) {
  return AnsiString(path.substr(0, NameStart(path)));
}
AnsiString ExtractFileName(std::string_view path) {
  return AnsiString(path.substr(NameStart(path)));
}

// Every occurrence of From in Text replaced by To, letters compared without
// case, matches only at character boundaries.
AnsiString ReplaceTextIgnoreCase(std::string_view text, std::string_view from,
                                 std::string_view to) {
  if (from.empty()) return AnsiString(text);
  const AnsiString upperText = AnsiUpperCase(text);
  const AnsiString upperFrom = AnsiUpperCase(from);
  AnsiString result;
  size_t i = 0;
  while (i < text.size()) {
    if (upperText.compare(i, upperFrom.size(), upperFrom) == 0) {
      result += to;
      i += from.size();
    } else {
      const size_t next = CharNext(text, i);
      result.append(text.substr(i, next - i));
      i = next;
    }
  }
  return result;
}

int64_t SaturatingAdd(int64_t a, int64_t b) {
  int64_t r;
  if (__builtin_add_overflow(a, b, &r))
    return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
  return r;
}

// The part header at Place of Part, if it is one: the file holds it whole,
// it has the signature, a part size from 380 to 2^63 - 2 that leaves room
// for the header and 100 data bytes after Place, and a NUL-terminated next
// name. Leaves the part positioned after the header.
bool ReadSoundHeader(TSFSAbstractFile& Part, int64_t Place, TPartHeader& Header,
                     std::string_view& Next) {
  const int64_t size = Part.GetSize();
  if (Place < 0 || size < PartHeaderSize || Place > size - PartHeaderSize) return false;
  if (Part.Seek(Place, 0) != Place) return false;
  if (Part.Read(&Header, static_cast<int32_t>(PartHeaderSize)) != PartHeaderSize) return false;
  if (!HasPartSignature(Header)) return false;
  if (Header.PartSize < MinPartSize || Header.PartSize > MaxPartSize) return false;
  if (Place > Header.PartSize - MinPartSize) return false;
  return GetNextPartName(Header, Next);
}

// A next-part name that stays in the folder and names no part of the chain
// so far (compared without case, as the names of one folder are on the
// system's volumes).
bool SoundNextName(std::string_view next, const std::vector<AnsiString>& chain) {
  if (next.empty() || next == "." || next == "..") return false;
  if (NameStart(next) != 0) return false;
  return std::none_of(chain.begin(), chain.end(),
                      [&](const AnsiString& name) { return AnsiSameText(name, next); });
}

bool WriteHeaderAt(TSFSAbstractFile& Part, int64_t Place, const TPartHeader& Header) {
  return Part.Seek(Place, 0) == Place &&
         Part.Write(&Header, static_cast<int32_t>(PartHeaderSize)) == PartHeaderSize;
}

TPartHeader WithNextName(const TPartHeader& Header, std::string_view Next) {
  TPartHeader result = Header;
  std::memset(result.NextPartName, 0, sizeof result.NextPartName);
  std::memcpy(result.NextPartName, Next.data(), std::min(Next.size(), MaxPartNameLength));
  return result;
}

// Offset of the part header that begins the chain in a first part file: the
// first place holding the part signature followed by the container magic,
// 0 when there is none.
int64_t LocateHeader(TSFSHugeFile& Owner, TSFSAbstractFile& Part) {
  int64_t found = 0;
  std::vector<uint8_t> buffer(static_cast<size_t>(HeaderScanChunk));
  Part.Seek(0, 0);
  const int64_t size = Part.GetSize();
  bool done = false;
  while (!done) {
    const int64_t chunkStart = Part.GetPosition();
    if (chunkStart < 0 || chunkStart >= size) break;
    const int32_t got = Part.Read(buffer.data(), HeaderScanChunk);
    if (got <= 0) break;
    for (int32_t j = 0; j + 3 < got; ++j) {
      if (buffer[j] == PartSignature[0] && buffer[j + 1] == PartSignature[1] &&
          buffer[j + 2] == PartSignature[2] && buffer[j + 3] == PartSignature[3] &&
          Owner.CheckHeaderAt(Part, chunkStart + j)) {
        found = chunkStart + j;
        done = true;
        break;
      }
    }
  }
  Part.Seek(0, 0);
  return found;
}

}  // namespace

int OSGeneration() {
  const os::TOSVersion v = os::SystemInfo().OSVersion();
  if (v.Major == 3) return 4;
  if (v.Major == 4) {
    if (v.Minor == 0) return v.PlatformId == os::PlatformWin32Windows ? 1 : 5;
    if (v.Minor == 10) return 2;
    if (v.Minor == 90) return 3;
  } else if (v.Major == 5) {
    if (v.Minor == 0) return 6;
    if (v.Minor == 2) return 8;
    return 7;
  } else if (v.Major > 5) {
    return 7;
  }
  throw Exception("Can't Identify OS version");
}

int64_t GetMaxPartSize(const AnsiString& Path) {
  const int generation = OSGeneration();
  // The drive part with its separator; only a drive letter can be one.
  AnsiString root;
  if (Path.size() >= 2 && Path[1] == ':' &&
      ((Path[0] >= 'A' && Path[0] <= 'Z') || (Path[0] >= 'a' && Path[0] <= 'z')))
    root = Path.substr(0, 2) + "\\";
  AnsiString name;
  os::IFileSystem& fs = os::FileSystem();
  if (!fs.VolumeFileSystemName(Path, name)) return 0;
  if (name == "FAT32")
    return (generation >= 6 && generation <= 8) ? int64_t{4294967295} : int64_t{2147483647};
  if (name == "NTFS") return MaxPartSize;
  if (name == "FAT16") return 2147483647;
  if (name == "CDFS") return 0;
  if (name == "FS_UDF") return std::max<int64_t>(0, fs.VolumeFreeSpace(Path));
  if (name == "FAT") return (root == "A:\\" || root == "B:\\") ? 1457664 : 2147483647;
  return 0;
}

TSFSHugeFile::TSFSHugeFile(AnsiString FileName, bool ReadOnly, bool Exclusive, bool InMemory,
                           int64_t PartSize)
    : FFileName(std::move(FileName)),
      FExclusive(Exclusive),
      FReadOnly(ReadOnly),
      FInMemory(InMemory),
      FPartSize(PartSize) {
  if (FPartSize == -1) {
    FPartSize = GetMaxPartSize(FFileName);
    if (FPartSize <= 0) FPartSize = 2147483647;
  }
  // Beyond 2^63 - 2 a size is unlimited all the same, and a header must be
  // able to say it.
  FPartSize = std::min(FPartSize, MaxPartSize);
  FPartDataSize = FPartSize - PartHeaderSize;
  if (FPartSize < MinPartSize)
    throw Exception("File part size is too small. Minimal part size is " + IntToStr(MinPartSize));
}

TSFSHugeFile::~TSFSHugeFile() {
  FInMemory = false;
  Close();
}

std::unique_ptr<TSFSAbstractFile> TSFSHugeFile::NewPart(const AnsiString& Name) const {
  if (FInMemory) return std::make_unique<TSFSMemoryFile>(Name, FReadOnly, FExclusive);
  return std::make_unique<TSFSDiskFile>(Name, FReadOnly, FExclusive);
}

void TSFSHugeFile::RemoveLastPart(bool DeleteItsFile) {
  const AnsiString name = FParts.back()->FileName();
  FParts.pop_back();
  if (DeleteItsFile && !FInMemory) os::FileSystem().Delete(name);
}

int64_t TSFSHugeFile::ChainDataSize() {
  int64_t total = -FHeaderOffset;
  for (auto& part : FParts)
    total = SaturatingAdd(total, std::max<int64_t>(0, part->GetSize() - PartHeaderSize));
  return std::max<int64_t>(0, total);
}

bool TSFSHugeFile::SeekPart(int64_t k, int64_t At) {
  if (FCursorPart == k && FCursorAt == At) return true;
  if (FParts[static_cast<size_t>(k)]->Seek(At, 0) != At) {
    ForgetCursor();
    return false;
  }
  FCursorPart = k;
  FCursorAt = At;
  return true;
}

bool TSFSHugeFile::Open(bool CreateNew, bool IgnoreBrokenChain) {
  return InternalOpen(FFileName, CreateNew, IgnoreBrokenChain);
}

bool TSFSHugeFile::InternalOpen(const AnsiString& FileName, bool CreateNew,
                                bool IgnoreBrokenChain) {
  ForgetCursor();
  if (FOpened) throw Exception(AlreadyOpenMessage);
  bool result;
  if (FInMemory && !FParts.empty() && !CreateNew) {
    result = true;  // the memory parts kept by Close
  } else {
    if (!FParts.empty()) throw Exception("InternalOpen - File was not closed.");
    if (CreateNew && FReadOnly && !FInMemory) {
      // A read-only chain on disk cannot be made; an existing one of that
      // name is left as it is.
      result = false;
    } else if (CreateNew) {
      FHeaderOffset = 0;
      DeleteFiles();
      result = AddPartFile();
      FSize = 0;
    } else {
      const bool ok = OpenPartFiles(FileName);
      if ((ok || IgnoreBrokenChain) && !FParts.empty()) {
        // The first write past the end of a broken chain would put a new
        // part in the place of the lost one: such a chain is for reading.
        if (!ok && !FReadOnly && !FInMemory) {
          const AnsiString last = FParts.back()->FileName();
          FParts.clear();
          FSize = 0;
          throw Exception(
              "InternalOpen - Chain of part files is broken, it can only be opened read only. "
              "Last sound part is " +
              QuoteText(last));
        }
        FSize = ChainDataSize();
        result = true;
      } else {
        result = false;
      }
    }
  }
  FPosition = 0;
  FOpened = result;
  return result;
}

bool TSFSHugeFile::OpenPartFiles(const AnsiString& FileName) {
  ForgetCursor();
  const AnsiString dir = ExtractFilePath(FileName);
  AnsiString name = ExtractFileName(FileName);
  std::vector<AnsiString> chain{name};
  int64_t total = 0;  // data bytes of the parts accepted so far, plus HeaderOffset
  while (true) {
    const size_t i = FParts.size();
    FParts.push_back(NewPart(dir + name));
    TSFSAbstractFile& part = *FParts.back();
    bool ok;
    if (!FInMemory) {
      ok = part.Open(false);
    } else {
      TSFSDiskFile disk(dir + name, FReadOnly, FExclusive);
      ok = disk.Open(false);
      if (ok && i > 0) {
        // A later file is loaded only when it can be a part of this chain:
        // a part header and no more than PartSize bytes.
        TPartHeader probe;
        std::string_view probeNext;
        const int64_t size = disk.GetSize();
        if (size > FPartSize || !ReadSoundHeader(disk, 0, probe, probeNext)) {
          RemoveLastPart(false);
          return false;
        }
        disk.SetPosition(0);
      }
      if (ok) {
        const int64_t size = disk.GetSize();
        try {
          ok = size >= 0 && part.Open(true) && part.CopyFrom(disk, size) == size;
        } catch (const Exception&) {
          ok = false;
        } catch (const std::bad_alloc&) {
          ok = false;
        }
        if (ok) part.SetPosition(0);
      }
    }
    if (!ok) {
      RemoveLastPart(false);
      return false;
    }

    if (i == 0) FindHeaderOffset(part);
    const int64_t place = HeaderPlace(i);
    TPartHeader header;
    std::string_view next;
    bool sound = ReadSoundHeader(part, place, header, next);
    if (sound && i == 0) {
      FPartSize = header.PartSize;
      FPartDataSize = FPartSize - PartHeaderSize;
    }
    const int64_t partSize = part.GetSize();
    // No part is longer than PartSize, and the chain's size stays countable.
    sound = sound && partSize <= FPartSize &&
            !__builtin_add_overflow(total, partSize - PartHeaderSize, &total);
    if (!sound) {
      RemoveLastPart(false);
      return false;
    }
    // A short part that is not the last: the chain breaks after it.
    if (partSize < FPartSize && !next.empty()) return false;
    if (next.empty()) return true;
    if (!SoundNextName(next, chain)) return false;
    name = AnsiString(next);
    chain.push_back(name);
  }
}

void TSFSHugeFile::FindHeaderOffset(TSFSAbstractFile& Part) {
  ForgetCursor();
  FHeaderOffset = LocateHeader(*this, Part);
}

bool TSFSHugeFile::CheckHeaderAt(TSFSAbstractFile& Part, int64_t Offset) {
  ForgetCursor();
  const int64_t saved = Part.GetPosition();
  bool result = false;
  const int64_t size = Part.GetSize();
  constexpr int64_t needed = PartHeaderSize + static_cast<int64_t>(ContainerMagicSize);
  if (Offset >= 0 && size >= needed && Offset <= size - needed && Part.Seek(Offset, 0) == Offset) {
    TPartHeader header;
    uint8_t magic[ContainerMagicSize];
    result = Part.Read(&header, static_cast<int32_t>(PartHeaderSize)) == PartHeaderSize &&
             HasPartSignature(header) &&
             Part.Read(magic, static_cast<int32_t>(ContainerMagicSize)) ==
                 static_cast<int32_t>(ContainerMagicSize) &&
             std::equal(ContainerMagic.begin(), ContainerMagic.end(), magic);
  }
  Part.Seek(saved, 0);
  return result;
}

void TSFSHugeFile::MapPosition(int64_t X, int64_t& k, int64_t& o) const {
  // Written so that nothing overflows: X + HeaderOffset may not fit.
  const int64_t firstData = FPartDataSize - FHeaderOffset;
  if (X < firstData) {
    k = 0;
    o = X;
    return;
  }
  const int64_t rest = X - firstData;
  k = 1 + rest / FPartDataSize;
  o = rest % FPartDataSize;
}

bool TSFSHugeFile::AddPartFile() {
  ForgetCursor();
  // A read-only chain on disk does not grow (creating a file would empty it).
  if (FReadOnly && !FInMemory) return false;
  AnsiString name;
  if (FParts.empty()) {
    name = FFileName;
  } else {
    for (int64_t n = static_cast<int64_t>(FParts.size());; ++n) {
      name = FFileName + IntToStr(n);
      const AnsiString shortName = ExtractFileName(name);
      const bool ownPart = std::any_of(FParts.begin(), FParts.end(), [&](const auto& part) {
        return AnsiSameText(ExtractFileName(part->FileName()), shortName);
      });
      if (!ownPart && !os::FileSystem().FileExists(name)) break;
    }
    if (ExtractFileName(name).size() > MaxPartNameLength) return false;
  }

  FParts.push_back(NewPart(name));
  TSFSAbstractFile& part = *FParts.back();
  if (!part.Open(true)) {
    RemoveLastPart(false);
    return false;
  }
  const size_t index = FParts.size() - 1;
  const TPartHeader header = MakePartHeader(FPartSize, "");
  if (!WriteHeaderAt(part, HeaderPlace(index), header)) {
    RemoveLastPart(true);
    return false;
  }
  if (index > 0) {
    TSFSAbstractFile& previous = *FParts[index - 1];
    const int64_t saved = previous.GetPosition();
    const int64_t place = HeaderPlace(index - 1);
    const bool linked = WriteHeaderAt(previous, place, WithNextName(header, ExtractFileName(name)));
    if (!linked) WriteHeaderAt(previous, place, header);  // back to a last part, if it can be
    previous.Seek(saved, 0);
    if (!linked) {
      RemoveLastPart(true);
      return false;
    }
  }
  return true;
}

void TSFSHugeFile::DeleteLastPartFile() {
  ForgetCursor();
  if (FParts.size() <= 1) throw Exception("TSFSHugeFile.DeleteLastPartFile - No parts to delete.");
  // The new last part is unlinked first, so a failure leaves the chain whole.
  TSFSAbstractFile& previous = *FParts[FParts.size() - 2];
  const int64_t saved = previous.GetPosition();
  const int64_t place = HeaderPlace(FParts.size() - 2);
  const TPartHeader header = MakePartHeader(FPartSize, "");
  // A header that cannot be put at its place is not written anywhere else.
  const bool unlinked = WriteHeaderAt(previous, place, header);
  previous.Seek(saved, 0);
  if (!unlinked) throw Exception("TSFSAbstractFile.WriteBuffer - Stream write error");
  RemoveLastPart(true);
}

void TSFSHugeFile::SetSize(int64_t NewSize) {
  ForgetCursor();
  if (NewSize < 0) throw Exception("TSFSHugeFile.SetSize - Size < 0.");
  if (FParts.empty()) throw Exception("TSFSHugeFile.SetSize - File is not open.");
  try {
    int64_t k, o;
    if (NewSize > FSize) {
      MapPosition(NewSize, k, o);
      while (static_cast<int64_t>(FParts.size()) - 1 < k) {
        FParts.back()->SetSize(FPartSize);
        if (!AddPartFile()) {
          FSize = ChainDataSize();
          FPosition = FSize;
          return;
        }
      }
      FParts[static_cast<size_t>(k)]->SetSize(PhysicalOffset(k, o));
    } else if (NewSize < FSize) {
      MapPosition(NewSize, k, o);
      while (static_cast<int64_t>(FParts.size()) - 1 > k) DeleteLastPartFile();
      FParts[static_cast<size_t>(k)]->SetSize(PhysicalOffset(k, o));
    }
  } catch (...) {
    FSize = ChainDataSize();
    FPosition = FSize;
    throw;
  }
  FSize = NewSize;
  FPosition = NewSize;
}

int64_t TSFSHugeFile::Seek(int64_t Offset, uint16_t Origin) {
  switch (Origin) {
    case 0:
      if (Offset < 0) throw Exception("TSFSHugeFile.Seek - Offset < 0 from file beginning.");
      FPosition = Offset;
      break;
    case 1:
      FPosition = SaturatingAdd(FPosition, Offset);
      break;
    case 2:
      FPosition = SaturatingAdd(FSize, Offset);
      break;
    default:
      break;
  }
  // A position before 0 or past Size positions no part, nor does the end of
  // a full last part (it maps to a part that does not exist yet).
  if (FPosition >= 0 && FPosition <= FSize) {
    int64_t k, o;
    MapPosition(FPosition, k, o);
    if (k < static_cast<int64_t>(FParts.size())) SeekPart(k, PhysicalOffset(k, o));
  }
  return FPosition;
}

int32_t TSFSHugeFile::Read(void* Buffer, int32_t Count) {
  if (FPosition > FSize || FPosition < 0) throw Exception("TSFSHugeFile.Read - Stream read error.");
  auto* out = static_cast<uint8_t*>(Buffer);
  int32_t total = 0;
  while (total < Count) {
    int64_t k, o;
    MapPosition(FPosition, k, o);
    if (k >= static_cast<int64_t>(FParts.size())) break;  // the end of a full last part
    const int64_t room = FPartDataSize - o - (k == 0 ? FHeaderOffset : 0);
    const int64_t n = std::min({room, static_cast<int64_t>(Count - total), FSize - FPosition});
    if (n <= 0) break;
    // Each chunk is read where Position says, whatever the part did before.
    const int64_t at = PhysicalOffset(k, o);
    if (!SeekPart(k, at)) break;
    const int32_t got = FParts[static_cast<size_t>(k)]->Read(out + total, static_cast<int32_t>(n));
    if (got != n) ForgetCursor();
    if (got <= 0) break;  // -1 is a failed transfer, not a count
    FCursorAt += got;
    total += got;
    FPosition += got;
    if (got < n) break;
  }
  return total;
}

void TSFSHugeFile::ReadBuffer(void* Buffer, int32_t Count) {
  if (Count != 0 && Read(Buffer, Count) != Count)
    throw Exception("TSFSHugeFile.ReadBuffer - Stream read error");
}

int32_t TSFSHugeFile::Write(const void* Buffer, int32_t Count) {
  if (Count <= 0 || FParts.empty() || FPosition < 0) return 0;
  if (FPosition > FSize) {
    const int64_t p = FPosition;
    SetPosition(0);
    try {
      SetSize(p);
    } catch (const Exception&) {
      // A part that could not grow: reported as nothing written.
    }
    if (FSize != p) {
      // The store could not grow that far: nothing is written, and the
      // position stays where the caller put it, so the bytes never land at
      // the end that was reached instead.
      FPosition = p;
      return 0;
    }
    SetPosition(p);
  }
  const auto* in = static_cast<const uint8_t*>(Buffer);
  int32_t total = 0;
  while (total < Count) {
    int64_t k, o;
    MapPosition(FPosition, k, o);
    if (k >= static_cast<int64_t>(FParts.size())) {
      // The end of a full last part: the next part comes first.
      if (k > static_cast<int64_t>(FParts.size()) || !AddPartFile()) return total;
    }
    const int64_t at = PhysicalOffset(k, o);
    if (!SeekPart(k, at)) return total;
    const int64_t room = FPartDataSize - o - (k == 0 ? FHeaderOffset : 0);
    const auto n = static_cast<int32_t>(std::min<int64_t>(room, Count - total));
    const int32_t written = FParts[static_cast<size_t>(k)]->Write(in + total, n);
    if (written == n)
      FCursorAt += written;
    else
      ForgetCursor();
    if (written > 0) {
      total += written;
      FPosition += written;
      if (FPosition > FSize) FSize = FPosition;
    }
    if (written < n) return total;  // -1 counts as nothing written
  }
  return total;
}

void TSFSHugeFile::WriteBuffer(const void* Buffer, int32_t Count) {
  if (Count != 0 && Write(Buffer, Count) != Count)
    throw Exception("TSFSHugeFile.WriteBuffer - Stream write error");
}

void TSFSHugeFile::Flush() {
  for (auto& part : FParts) part->Flush();
}

void TSFSHugeFile::Close() {
  ForgetCursor();
  if (!FInMemory) {
    FParts.clear();  // each disk part is flushed and closed
    FSize = 0;
  }
  FPosition = 0;
  FOpened = false;
}

bool TSFSHugeFile::RenameFile(const AnsiString& NewName) {
  ForgetCursor();
  const AnsiString oldShort = ExtractFileName(FFileName);
  const AnsiString newShort = ExtractFileName(NewName);
  const AnsiString dir = ExtractFilePath(FFileName);
  if (newShort.empty()) return false;
  TPartHeader header;
  std::string_view next;

  if (FInMemory) {
    if (FParts.empty()) throw Exception("TSFSHugeFile.RenameFile - No memory files exist.");
    FParts[0]->SetFileName(dir + newShort);
    FFileName = dir + newShort;
    for (size_t i = 0; i < FParts.size(); ++i) {
      TSFSAbstractFile& part = *FParts[i];
      const int64_t saved = part.GetPosition();
      const int64_t place = HeaderPlace(i);
      bool ok = ReadSoundHeader(part, place, header, next);
      bool last = !ok || next.empty();
      if (ok && !last) {
        const AnsiString newNext = ReplaceTextIgnoreCase(next, oldShort, newShort);
        ok = newNext.size() <= MaxPartNameLength;
        if (ok) {
          if (i + 1 < FParts.size()) FParts[i + 1]->SetFileName(dir + newNext);
          ok = WriteHeaderAt(part, place, WithNextName(header, newNext));
        }
        last = !ok || i + 1 == FParts.size();
      }
      part.Seek(saved, 0);
      if (last) return ok;
    }
    return true;
  }

  // Part 0 must be a part before anything is renamed.
  int64_t place;
  {
    TSFSDiskFile first(FFileName, false, FExclusive);
    if (!first.Open(false)) return false;
    place = LocateHeader(*this, first);
    if (!ReadSoundHeader(first, place, header, next)) return false;
  }
  if (!os::FileSystem().Rename(FFileName, dir + newShort)) return false;
  FFileName = dir + newShort;
  AnsiString current = FFileName;
  std::vector<AnsiString> chain{oldShort};
  while (true) {
    TSFSDiskFile part(current, false, FExclusive);
    if (!part.Open(false)) return false;
    if (!ReadSoundHeader(part, place, header, next)) return false;
    if (next.empty()) return true;
    if (!SoundNextName(next, chain)) return false;
    const AnsiString nextName(next);
    {
      // The file named next is renamed and rewritten only when it is a part.
      TSFSDiskFile probe(dir + nextName, true, false);
      TPartHeader probeHeader;
      std::string_view probeNext;
      if (!probe.Open(false) || !ReadSoundHeader(probe, 0, probeHeader, probeNext)) return false;
    }
    const AnsiString newNext = ReplaceTextIgnoreCase(nextName, oldShort, newShort);
    if (newNext.size() > MaxPartNameLength) return false;
    const bool renamed = newNext != nextName;
    if (renamed && !os::FileSystem().Rename(dir + nextName, dir + newNext)) return false;
    if (!WriteHeaderAt(part, place, WithNextName(header, newNext))) {
      if (renamed) os::FileSystem().Rename(dir + newNext, dir + nextName);
      return false;
    }
    chain.push_back(nextName);
    current = dir + newNext;
    place = 0;
  }
}

bool TSFSHugeFile::DeleteFiles() {
  ForgetCursor();
  if (FInMemory) {
    FParts.clear();
    FSize = 0;
    return true;
  }
  const AnsiString dir = ExtractFilePath(FFileName);
  AnsiString current = FFileName;
  std::vector<AnsiString> chain{ExtractFileName(FFileName)};
  for (size_t i = 0;; ++i) {
    AnsiString nextName;
    {
      // Only a part file is deleted; a file that is none ends the chain.
      TSFSDiskFile part(current, true, false);
      if (!part.Open(false)) return false;
      const int64_t place = i == 0 ? LocateHeader(*this, part) : 0;
      TPartHeader header;
      std::string_view next;
      if (!ReadSoundHeader(part, place, header, next)) return false;
      nextName = AnsiString(next);
    }
    if (!os::FileSystem().Delete(current)) return false;
    if (nextName.empty()) return true;
    if (!SoundNextName(nextName, chain)) return false;
    chain.push_back(nextName);
    current = dir + nextName;
  }
}

}  // namespace zk
