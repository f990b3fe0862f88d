// On-disk records of the page file: the 438-byte container header at logical
// offset 0 (TSFSFileHeader), the 32-byte header that starts every page from
// page 1 on (TPageHeader), and TPageBuffer, the in-memory companion of a page
// (its header plus a pointer to the data bytes, with storage it may own).
// The structs are packed and little-endian; every size and offset is fixed.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "container/crypto/PasswordBlock.h"
#include "container/storage/ContainerMagic.h"

namespace zk {

static_assert(std::endian::native == std::endian::little,
              "the on-disk records are read and written as they lie in memory");

// 1.11 as an IEEE single: bits 3F8E147B.
inline constexpr uint32_t SFSFileVersionBits = 0x3F8E147Bu;

inline constexpr int32_t SFSFileHeaderSize = 438;
inline constexpr int32_t PageHeaderSize = 32;
inline constexpr int32_t PasswordBlockSize = 172;
// The header check value covers Size 426 bytes from offset 12 (kind 0, whole
// words only: bytes 12 to 435).
inline constexpr int32_t HeaderCheckOffset = 12;
inline constexpr int32_t HeaderCheckSize = 426;

// Page types.
inline constexpr uint8_t ptDirectory = 1;
inline constexpr uint8_t ptGAM = 2;
inline constexpr uint8_t ptSGAM = 3;
inline constexpr uint8_t ptPFS = 4;
inline constexpr uint8_t ptFileMap = 5;
inline constexpr uint8_t ptFileData = 6;

// Encryption types of the container and of a page.
inline constexpr uint8_t etNone = 0;
inline constexpr uint8_t etRijndael = 1;

#pragma pack(push, 1)

struct TSFSFileHeader {
  uint8_t Magic[ContainerMagicSize];  // ContainerMagic: "ANAN" 09 0A 1F 15
  uint32_t CheckValue;
  uint32_t Version;   // IEEE single bits; 1.11 when written, never tested
  uint32_t AppValue;  // kept for the container object, never interpreted here
  uint8_t Reserved[208];
  uint8_t EncryptionType;
  uint8_t CompressionMethod;
  int32_t PageSize;
  int32_t ExtentPageCount;
  int32_t FirstPageNo;
  int32_t GAMPageCount;
  int32_t PFSPageCount;
  int32_t PageCount;
  TPasswordBlock PasswordBlock;
  int32_t DIRPageCount;
  int32_t FirstDIRPageNo;
  int32_t DIRItemCount;
};

struct TPageHeader {
  int32_t NextPageNo;
  uint32_t CheckValue;
  uint8_t PageType;
  uint8_t EncryptionType;
  uint8_t CheckKind;
  uint8_t Reserved[21];
};

#pragma pack(pop)

static_assert(sizeof(TSFSFileHeader) == SFSFileHeaderSize);
static_assert(offsetof(TSFSFileHeader, Magic) == 0);
static_assert(offsetof(TSFSFileHeader, CheckValue) == 8);
static_assert(offsetof(TSFSFileHeader, Version) == 12);
static_assert(offsetof(TSFSFileHeader, AppValue) == 16);
static_assert(offsetof(TSFSFileHeader, Reserved) == 20);
static_assert(offsetof(TSFSFileHeader, EncryptionType) == 228);
static_assert(offsetof(TSFSFileHeader, CompressionMethod) == 229);
static_assert(offsetof(TSFSFileHeader, PageSize) == 230);
static_assert(offsetof(TSFSFileHeader, ExtentPageCount) == 234);
static_assert(offsetof(TSFSFileHeader, FirstPageNo) == 238);
static_assert(offsetof(TSFSFileHeader, GAMPageCount) == 242);
static_assert(offsetof(TSFSFileHeader, PFSPageCount) == 246);
static_assert(offsetof(TSFSFileHeader, PageCount) == 250);
static_assert(offsetof(TSFSFileHeader, PasswordBlock) == 254);
static_assert(offsetof(TSFSFileHeader, DIRPageCount) == 426);
static_assert(offsetof(TSFSFileHeader, FirstDIRPageNo) == 430);
static_assert(offsetof(TSFSFileHeader, DIRItemCount) == 434);

static_assert(sizeof(TPageHeader) == PageHeaderSize);
static_assert(offsetof(TPageHeader, NextPageNo) == 0);
static_assert(offsetof(TPageHeader, CheckValue) == 4);
static_assert(offsetof(TPageHeader, PageType) == 8);
static_assert(offsetof(TPageHeader, EncryptionType) == 9);
static_assert(offsetof(TPageHeader, CheckKind) == 10);
static_assert(offsetof(TPageHeader, Reserved) == 11);

// A page in memory: its header fields (inherited, so Page.NextPageNo reads as
// the record's field) and Data, the buffer the page data is read into or
// written from. AllocPageBuffer points Data at Storage; a caller may instead
// point Data at a buffer of its own that outlives the transfer.
struct TPageBuffer : TPageHeader {
  uint8_t* Data = nullptr;
  std::vector<uint8_t> Storage;

  TPageBuffer() : TPageHeader{-1, 0, 0, etNone, 0, {}} {}
  TPageBuffer(const TPageBuffer&) = delete;
  TPageBuffer& operator=(const TPageBuffer&) = delete;
  TPageBuffer(TPageBuffer&&) = default;
  TPageBuffer& operator=(TPageBuffer&&) = default;

  TPageHeader& Header() { return *this; }
  const TPageHeader& Header() const { return *this; }
};

}  // namespace zk
