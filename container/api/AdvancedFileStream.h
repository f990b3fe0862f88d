// TSFSAdvancedFileStream: the compressed block stream over one file inside a
// container. Unless the file is stored uncompressed (method 0), its raw bytes
// are a 128-byte stream header followed by a chain of independently
// compressed blocks of a fixed uncompressed size; to its users the stream is
// an ordinary seekable stream of the uncompressed bytes. Reading decompresses
// the blocks it touches, writing recompresses them, and a block whose
// compressed form grows moves every later block back. With method 0 every
// call goes straight to the raw stream.
//
// It owns the raw stream it keeps its blocks in (normally a
// TSFSUserFileStream) and the in-memory list of block headers. Nothing is
// buffered: every Write and SetSize has written its blocks and the stream
// header before it returns.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "container/engine/SFSHeadersArray.h"
#include "platform/rtl/AnsiString.h"
#include "platform/rtl/Stream.h"

namespace zk {

class TSingleFileSystem;

static_assert(std::endian::native == std::endian::little,
              "the on-disk structures below are read and written in host order");

#pragma pack(push, 1)
// The 128 bytes at raw offset 0 of a compressed file.
struct TStreamHeader {
  uint8_t StreamSignature[4];  // 0A 12 06 01
  uint32_t BlockSize;          // uncompressed bytes per block
  uint32_t Reserved8;          // 0
  uint32_t BlockCount;         // blocks in the chain
  uint32_t Reserved16;         // written as 0x40000000, not interpreted
  uint8_t Method;              // compression method code 1 to 9
  uint8_t Reserved21[2];       // 0
  int32_t ExtraHeaderSize;     // bytes between this header and block 0; written as 0
  uint8_t Reserved27[101];     // 0
};
// The 16 bytes in front of every block's compressed data.
struct TBlockHeader {
  uint32_t CompressedSize;    // compressed bytes after this header
  uint32_t UncompressedSize;  // BlockSize, or 1 to BlockSize for the last block
  uint32_t BlockCheck;        // CRC-16 of the uncompressed bytes, zero-extended
  uint32_t NextBlockOffset;   // raw offset just past this block's compressed data
};
#pragma pack(pop)

static_assert(sizeof(TStreamHeader) == 128);
static_assert(offsetof(TStreamHeader, StreamSignature) == 0);
static_assert(offsetof(TStreamHeader, BlockSize) == 4);
static_assert(offsetof(TStreamHeader, Reserved8) == 8);
static_assert(offsetof(TStreamHeader, BlockCount) == 12);
static_assert(offsetof(TStreamHeader, Reserved16) == 16);
static_assert(offsetof(TStreamHeader, Method) == 20);
static_assert(offsetof(TStreamHeader, Reserved21) == 21);
static_assert(offsetof(TStreamHeader, ExtraHeaderSize) == 23);
static_assert(offsetof(TStreamHeader, Reserved27) == 27);
static_assert(sizeof(TBlockHeader) == 16);
static_assert(offsetof(TBlockHeader, CompressedSize) == 0);
static_assert(offsetof(TBlockHeader, UncompressedSize) == 4);
static_assert(offsetof(TBlockHeader, BlockCheck) == 8);
static_assert(offsetof(TBlockHeader, NextBlockOffset) == 12);

inline constexpr uint8_t StreamSignature[4] = {0x0A, 0x12, 0x06, 0x01};
inline constexpr int32_t StreamHeaderSize = 128;
inline constexpr int32_t BlockHeaderSize = 16;
// Largest block size a stream header may name (the largest of any method).
inline constexpr uint32_t MaxStreamBlockSize = 1572864;
// Raw offsets in the block chain are 32-bit: no block may end past this.
inline constexpr int64_t MaxRawStreamEnd = 0xFFFFFFFF;

// Progress of one Read or Write, 0 to 100. Sender is the stream.
using TStreamProgressEvent = std::function<void(TStream& Sender, double Percent)>;

class TSFSAdvancedFileStream : public TStream {
 public:
  // Opens FileName in FileSystem through a TSFSUserFileStream with Mode,
  // Password, Question and Answer (Mode 0xFFFF makes a new file). A new file
  // is compressed with Compression, 0 meaning the container's default method;
  // an existing file keeps the layout it has.
  TSFSAdvancedFileStream(TSingleFileSystem* FileSystem, const AnsiString& FileName, uint16_t Mode,
                         const AnsiString& Password, const AnsiString& Question,
                         const AnsiString& Answer, uint8_t Compression);
  // Over any raw stream, which it then owns. Mode 0xFFFF makes a new file
  // (Method 0: uncompressed pass-through); otherwise the raw bytes are taken
  // as they are and (Mode and 3) = 0 marks a stream that is never written,
  // not even to cut back a broken chain.
  TSFSAdvancedFileStream(std::unique_ptr<TStream> Inner, const AnsiString& FileName, uint16_t Mode,
                         uint8_t Method);
  ~TSFSAdvancedFileStream() override;
  TSFSAdvancedFileStream(const TSFSAdvancedFileStream&) = delete;
  TSFSAdvancedFileStream& operator=(const TSFSAdvancedFileStream&) = delete;

  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, uint16_t Origin) override;
  // Growing appends zero bytes (and leaves the position at the new end);
  // shrinking drops and rewrites blocks and cuts the raw bytes.
  void SetSize(int64_t NewSize) override;

  // Set by the owner before each read and write.
  TStreamProgressEvent OnProgress;
  // No OnProgress while SetSize extends the file.
  bool SuppressProgress = false;

  // 0 for an uncompressed pass-through, else the method of the stream header.
  uint8_t Method() const { return FMethod; }
  const AnsiString& FileName() const { return FFileName; }
  // The in-memory stream header and block list (for tools and tests).
  const TStreamHeader& Header() const { return FHeader; }
  int32_t BlockCount() const { return BlockHeaders.ItemCount(); }
  TBlockHeader BlockHeader(int32_t Index) const;
  int64_t BlockOffset(int32_t Index) const { return BlockHeaders.Keys(Index); }
  int32_t CurrentBlock() const { return FCurrentBlock; }
  TStream& InnerStream() const { return *FInner; }

 private:
  struct TPlannedBlock;

  void InitStream(bool CreateNew);
  void LoadBlockHeaders();
  void SaveStreamHeader();
  // The uncompressed bytes of block Index; raises one of the three
  // decompression errors when they cannot be had.
  std::vector<uint8_t> LoadBlock(int32_t Index);
  // Fills Header's UncompressedSize, BlockCheck and CompressedSize for the Size
  // bytes at Buffer and returns the compressed bytes.
  std::vector<uint8_t> PrepareBufferForWriting(const uint8_t* Buffer, int32_t Size,
                                               TBlockHeader& Header);
  void DoProgress(double Percent);

  // Lays out and writes the bytes [RangeStart, End): zeros up to DataStart,
  // then the bytes at Data. RangeStart is at most Size. Every block is
  // compressed and the new end checked before anything is written.
  void WriteRange(int64_t RangeStart, int64_t DataStart, const uint8_t* Data, int64_t End,
                  const char* Operation);
  [[noreturn]] void RaiseTooLarge(const char* Operation) const;
  bool Writable() const;

  long double FProgressPercentage = 0;
  long double FProgressSteps = 0;
  TSFSHeadersArray BlockHeaders;  // TBlockHeader records keyed by their raw offset
  int64_t FSize = 0;
  int32_t FCurrentBlock = 0;
  int64_t FPosition = 0;
  uint8_t FMethod = 0;
  AnsiString FFileName;
  uint16_t FMode = 0;
  std::unique_ptr<TStream> FInner;
  TStreamHeader FHeader{};
};

}  // namespace zk
