// TPageFileManager turns a container's byte store (the multi-part file, which
// it owns) into an array of fixed-size pages. It owns the container header
// (TSFSFileHeader at offset 0), creates a new container or opens an existing
// one, reads and writes single pages with their 32-byte TPageHeader, enciphers
// page data with the master key or a caller's key, grows the store by whole
// pages and reports the free space left for it. The free-space maps, the
// directory and the file page maps store all of their bytes through it.
#pragma once

#include <cstdint>
#include <memory>

#include "container/engine/FileHeader.h"
#include "container/engine/MapGeometry.h"
#include "platform/rtl/AnsiString.h"

namespace zk {

class TSFSHugeFile;

// Mode word: 0xFFFF creates a new container; (Mode and 3) = 0 is read only;
// bit 0x10 is exclusive.
inline constexpr uint16_t fmCreateNew = 0xFFFF;

// LastError codes of the page transfers.
inline constexpr int32_t peShortHeaderRead = -7;
inline constexpr int32_t peShortHeaderWrite = -8;
inline constexpr int32_t peShortDataRead = -9;
inline constexpr int32_t peShortDataWrite = -10;
inline constexpr int32_t peDecipher = -12;
inline constexpr int32_t peEncipher = -13;
// No page could be allocated (the free-space maps and their users).
inline constexpr int32_t peNoSpace = -17;

class TPageFileManager {
 public:
  // Creates a new container (Mode 0xFFFF) or opens an existing one. PartSize
  // is the part size of a new multi-part file (-1 for the volume's rule).
  // Raises with the system's messages when the arguments or the file are bad.
  TPageFileManager(const AnsiString& FileName, uint16_t Mode, const AnsiString& Password,
                   const AnsiString& Question, const AnsiString& Answer, bool InMemory,
                   int32_t PageSize, int32_t ExtentPageCount, int64_t PartSize);
  ~TPageFileManager();
  TPageFileManager(const TPageFileManager&) = delete;
  TPageFileManager& operator=(const TPageFileManager&) = delete;

  int64_t PageOffset(int32_t PageNo) const { return int64_t{PageNo} * Header.PageSize; }
  int32_t PageDataSize() const { return Header.PageSize - PageHeaderSize; }

  // Reads the 438 header bytes at Offset into Header (a short read raises) and
  // tells whether its magic and check value are right. Header keeps what was
  // read either way.
  bool CheckHeader(int64_t Offset);
  // CheckHeader(0), and the header's geometry and counts must describe a
  // container this engine can walk safely; otherwise raises
  // "TSingleFileSystem.LoadHeader - Invalid SFS file, header is corrupted.".
  void LoadHeader();
  // Recomputes the check value and writes the header (nothing when ReadOnly).
  void SaveHeader();
  // True when Header's fields hold for this engine (see LoadHeader).
  static bool HeaderIsSound(const TSFSFileHeader& Header);

  // Header fields -1, 0, 0 and a zero-filled Data of PageDataSize bytes.
  void AllocPageBuffer(TPageBuffer& Page) const;
  void FreePageBuffer(TPageBuffer& Page) const;

  // Size: data bytes (-1 = PageDataSize, 0 = the header alone). An empty Key
  // means MasterKey. Raw skips deciphering. False with LastError -7, -9, -12.
  bool ReadPage(TPageBuffer& Page, int32_t PageNo, int32_t Size = -1,
                const AnsiString& Key = AnsiString(), bool Raw = false);
  // Enciphers Page.Data IN PLACE (it holds ciphertext afterwards), sets the
  // check value and writes header and data. False with LastError -8, -10, -13.
  bool WritePage(TPageBuffer& Page, int32_t PageNo, int32_t Size = -1,
                 const AnsiString& Key = AnsiString());

  // Type 0 leaves the bytes, type 1 enciphers/deciphers them in place with a
  // Rijndael cipher made from Key. EncodeBuffer raises for any other type;
  // DecodeBuffer returns false.
  bool EncodeBuffer(void* Data, int32_t Size, const AnsiString& Key, uint8_t EncryptionType);
  bool DecodeBuffer(void* Data, int32_t Size, const AnsiString& Key, uint8_t EncryptionType);

  // Grows the store to PageCount + Count pages and saves the header. Never
  // raises; on failure PageCount, the header and the store size stay as they
  // were.
  bool AddPages(int32_t Count);

  bool RenameFile(const AnsiString& NewName);
  bool DeleteFiles();
  void Flush();

  // Bytes left for the container: free memory for an in-memory container,
  // else the space available on the volume that holds FileName (0 when the
  // volume cannot be asked).
  int64_t GetFreeSpace();

  // The multi-part file underneath (for the repair path and for tests).
  TSFSHugeFile& HugeFile() { return *FFile; }

  AnsiString FileName;
  bool InMemory = false;
  TSFSFileHeader Header{};
  bool ReadOnly = false;
  bool Exclusive = false;
  AnsiString MasterKey;
  int32_t LastError = 0;

  // The smallest page size a container may be made or opened with: one
  // 512-byte directory record plus a page header. The repair path lowers it
  // for a while to rebuild containers with smaller pages.
  static inline int32_t MinPageSize = 544;

 private:
  void CheckArguments(int32_t PageSize, int32_t ExtentPageCount) const;
  // Steps 5 to 8 of creating: the new header, the password block, the key.
  void InitNewContainer(int32_t PageSize, int32_t ExtentPageCount, const AnsiString& Password,
                        const AnsiString& Question, const AnsiString& Answer);
  const AnsiString& KeyFor(const AnsiString& Key) const { return Key.empty() ? MasterKey : Key; }

  std::unique_ptr<TSFSHugeFile> FFile;
};

// Name part of a path (after the last \ or /), stepping by GBK character.
AnsiString ExtractFileNamePart(const AnsiString& Path);

}  // namespace zk
