// TSFSHugeFile: one logical byte space with 64-bit positions, stored in a
// chain of part files. Every part file begins with a TPartHeader (the first
// one possibly after HeaderOffset foreign bytes) naming the next part, so the
// chain is found again from the name of its first file. Parts are disk files,
// or memory files when InMemory (then a chain is read into memory on open and
// nothing is written back). The object owns its parts.
//
// Logical position X lies in part k at data offset o (MapPosition), with
// PartDataSize = PartSize - 280 data bytes per part, HeaderOffset fewer in
// the first part.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "container/storage/PartHeader.h"
#include "container/storage/SFSAbstractFile.h"
#include "platform/rtl/AnsiString.h"

namespace zk {

class TSFSHugeFile {
 public:
  // PartSize -1 asks for the volume rule (GetMaxPartSize; a result <= 0
  // gives 2147483647). A part size below 380 raises "File part size is too
  // small. Minimal part size is 380".
  TSFSHugeFile(AnsiString FileName, bool ReadOnly, bool Exclusive, bool InMemory, int64_t PartSize);
  ~TSFSHugeFile();
  TSFSHugeFile(const TSFSHugeFile&) = delete;
  TSFSHugeFile& operator=(const TSFSHugeFile&) = delete;

  // CreateNew: a new chain (an existing one of that name is deleted first);
  // a read-only object on disk makes none and deletes nothing.
  // Otherwise the existing chain. A chain that breaks after its first sound
  // parts (a part missing, foreign, damaged, of the wrong length, or a link
  // that loops or leaves the folder) fails, unless IgnoreBrokenChain accepts
  // the sound parts: then a read-only or in-memory open succeeds with them,
  // and a writable disk open raises (its first write past the end would put a
  // new part in the place of the lost one). A first part that is no sound
  // part fails in any case.
  bool Open(bool CreateNew, bool IgnoreBrokenChain);
  void Close();
  void Flush();

  // Bytes read; 0 at the end. Position > Size raises "TSFSHugeFile.Read -
  // Stream read error.".
  int32_t Read(void* Buffer, int32_t Count);
  void ReadBuffer(void* Buffer, int32_t Count);
  // Bytes written; a write past Size first grows the data up to Position (0
  // when that fails, Position unchanged). A part transfer that fails ends
  // the write short.
  int32_t Write(const void* Buffer, int32_t Count);
  void WriteBuffer(const void* Buffer, int32_t Count);

  int64_t Seek(int64_t Offset, uint16_t Origin);
  int64_t GetPosition() { return Seek(0, 1); }
  void SetPosition(int64_t P) { Seek(P, 0); }
  int64_t GetSize() const { return FSize; }
  // Adds or deletes parts as needed. Afterwards Position = Size; when the
  // store could not grow (a part that cannot be created or linked), Size is
  // what it could reach, and an error raised by a part on the way (the
  // operating-system error of a failed resize) passes through after Size has
  // been set so. A negative size or a closed file raises.
  void SetSize(int64_t NewSize);

  // Renames every part within the folder of FileName (the folder of NewName
  // is ignored), rewriting each link; never replaces an existing file. Only
  // files that are sound parts are renamed or rewritten: the first that is
  // not ends the walk with False. Parts renamed before a failure keep their
  // new names. On disk the chain must be closed (open files are not renamed).
  bool RenameFile(const AnsiString& NewName);
  // Deletes every part file of the chain, following the links from FileName;
  // a file that is no sound part is left alone and ends the walk with False.
  bool DeleteFiles();

  // The steps behind the operations above. AddPartFile never grows a
  // read-only chain on disk, and drops a part it cannot create or link
  // (deleting its file). MapPosition needs X >= 0.
  bool InternalOpen(const AnsiString& FileName, bool CreateNew, bool IgnoreBrokenChain);
  bool AddPartFile();
  void DeleteLastPartFile();
  bool OpenPartFiles(const AnsiString& FileName);
  void FindHeaderOffset(TSFSAbstractFile& Part);
  bool CheckHeaderAt(TSFSAbstractFile& Part, int64_t Offset);
  void MapPosition(int64_t X, int64_t& k, int64_t& o) const;

  const AnsiString& FileName() const { return FFileName; }
  bool Exclusive() const { return FExclusive; }
  bool ReadOnly() const { return FReadOnly; }
  bool InMemory() const { return FInMemory; }
  bool Opened() const { return FOpened; }
  int64_t PartSize() const { return FPartSize; }
  int64_t PartDataSize() const { return FPartDataSize; }
  int64_t HeaderOffset() const { return FHeaderOffset; }
  int PartCount() const { return static_cast<int>(FParts.size()); }
  TSFSAbstractFile& Part(int Index) {
    ForgetCursor();  // the caller may move it
    return *FParts.at(static_cast<size_t>(Index));
  }

 private:
  std::unique_ptr<TSFSAbstractFile> NewPart(const AnsiString& Name) const;
  int64_t HeaderPlace(size_t Index) const { return Index == 0 ? FHeaderOffset : 0; }
  int64_t PhysicalOffset(int64_t k, int64_t o) const {
    return o + PartHeaderSize + (k == 0 ? FHeaderOffset : 0);
  }
  int64_t ChainDataSize();
  // Where the last transfer or seek left a part's file position, so that a
  // transfer that continues there does not seek again.
  void ForgetCursor() { FCursorPart = -1; }
  bool SeekPart(int64_t k, int64_t At);
  void RemoveLastPart(bool DeleteItsFile);

  AnsiString FFileName;
  bool FExclusive;
  bool FReadOnly;
  bool FInMemory;
  int64_t FPosition = 0;
  int64_t FSize = 0;
  int64_t FPartSize;
  int64_t FPartDataSize;
  std::vector<std::unique_ptr<TSFSAbstractFile>> FParts;
  bool FOpened = false;
  int64_t FHeaderOffset = 0;
  int64_t FCursorPart = -1;
  int64_t FCursorAt = 0;
};

// The largest part file the volume that holds Path allows (see the table of
// file-system names); 0 when the volume cannot be asked or allows none.
int64_t GetMaxPartSize(const AnsiString& Path);
// The generation of the running operating system (1..8) from its reported
// version; an unknown version raises "Can't Identify OS version".
int OSGeneration();

}  // namespace zk
