#include "container/api/AdvancedFileStream.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "container/api/SFSUserFileStream.h"
#include "container/api/SingleFileSystem.h"
#include "container/compress/SFSCompress.h"
#include "container/crypto/CheckValue.h"
#include "platform/rtl/Exception.h"

namespace zk {

namespace {

constexpr uint32_t HeaderReservedValue = 0x40000000;

// A compressed block is never much larger than its input; anything beyond
// this is damage, refused before any buffer is allocated for it.
constexpr int64_t MaxCompressedBlock(uint32_t BlockSize) {
  return 2 * static_cast<int64_t>(BlockSize) + 65536;
}

[[noreturn]] void RaiseDecompressionError() {
  throw Exception("TSFSAdvancedFileStream.LoadBlock - decompression error.");
}

int64_t SaturatedAdd(int64_t a, int64_t b) {
  int64_t r;
  if (__builtin_add_overflow(a, b, &r)) {
    return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
  }
  return r;
}

}  // namespace

// One block of a write, compressed and placed but not yet written.
struct TSFSAdvancedFileStream::TPlannedBlock {
  int32_t Index = 0;
  TBlockHeader Header{};
  int64_t Offset = 0;  // raw offset of the block header
  int64_t Next = 0;    // NextBlockOffset, checked against the 32-bit limit
  std::shared_ptr<const std::vector<uint8_t>> Data;
};

TSFSAdvancedFileStream::TSFSAdvancedFileStream(TSingleFileSystem* FileSystem,
                                               const AnsiString& FileName, uint16_t Mode,
                                               const AnsiString& Password,
                                               const AnsiString& Question, const AnsiString& Answer,
                                               uint8_t Compression)
    : FFileName(FileName), FMode(Mode) {
  if (FileSystem == nullptr) {
    throw Exception("TSFSAdvancedFileStream.Create - SingleFileSystem = nil.");
  }
  FInner =
      std::make_unique<TSFSUserFileStream>(FileSystem, FileName, Mode, Password, Question, Answer);
  if (!FInner) {
    throw Exception("TSFSAdvancedFileStream.Create - error creating user file stream, fileName = " +
                    QuoteText(FileName) + ".");
  }
  FMethod = Compression != 0 ? Compression : FileSystem->GetCompression();
  InitStream(Mode == 0xFFFF);
}

TSFSAdvancedFileStream::TSFSAdvancedFileStream(std::unique_ptr<TStream> Inner,
                                               const AnsiString& FileName, uint16_t Mode,
                                               uint8_t Method)
    : FMethod(Method), FFileName(FileName), FMode(Mode), FInner(std::move(Inner)) {
  if (!FInner) {
    throw Exception("TSFSAdvancedFileStream.Create - error creating user file stream, fileName = " +
                    QuoteText(FileName) + ".");
  }
  InitStream(Mode == 0xFFFF);
}

TSFSAdvancedFileStream::~TSFSAdvancedFileStream() = default;

bool TSFSAdvancedFileStream::Writable() const {
  return FMode == 0xFFFF || (FMode & 3) != 0;
}

TBlockHeader TSFSAdvancedFileStream::BlockHeader(int32_t Index) const {
  return BlockHeaders.RecordAs<TBlockHeader>(Index);
}

void TSFSAdvancedFileStream::InitStream(bool CreateNew) {
  SuppressProgress = false;
  FSize = FInner->GetSize();
  FInner->Seek(0, soBeginning);
  BlockHeaders.Clear();
  if (CreateNew && FMethod == 0) return;
  if (CreateNew) {
    if (FMethod > 9) {
      throw Exception("TSFSAdvancedFileStream.Create - invalid compression method = " +
                      IntToStr(FMethod) + ".");
    }
    FHeader = TStreamHeader{};
    std::memcpy(FHeader.StreamSignature, StreamSignature, sizeof StreamSignature);
    FHeader.BlockSize = static_cast<uint32_t>(BlockSizeForMethod(FMethod));
    FHeader.BlockCount = 0;
    FHeader.Reserved16 = HeaderReservedValue;
    FHeader.Method = FMethod;
    if (FInner->Write(&FHeader, StreamHeaderSize) < StreamHeaderSize) {
      throw Exception(
          "TSFSAdvancedFileStream.Create - error writing to data stream. May be data stream in "
          "read only mode.");
    }
    FInner->SetSize(StreamHeaderSize);
  }
  FInner->Seek(0, soBeginning);
  FSize = 0;
  LoadBlockHeaders();
  FCurrentBlock = 0;
  FPosition = 0;
  FInner->Seek(0, soBeginning);
}

void TSFSAdvancedFileStream::LoadBlockHeaders() {
  const int64_t saved = FInner->Seek(0, soCurrent);
  FInner->Seek(0, soBeginning);
  const int64_t raw = FInner->GetSize();

  // The header is taken only when every field the chain depends on is sound;
  // anything else is the bytes of an uncompressed file.
  TStreamHeader h{};
  bool taken = raw >= StreamHeaderSize && FInner->Read(&h, StreamHeaderSize) == StreamHeaderSize &&
               std::memcmp(h.StreamSignature, StreamSignature, sizeof StreamSignature) == 0 &&
               h.BlockSize >= 1 && h.BlockSize <= MaxStreamBlockSize && h.Method >= 1 &&
               h.Method <= 9 && h.ExtraHeaderSize >= 0 && h.ExtraHeaderSize <= raw;
  if (!taken) {
    FSize = raw;
    FMethod = 0;
    FInner->Seek(saved, soBeginning);
    return;
  }

  FHeader = h;
  BlockHeaders.Clear();
  FMethod = h.Method;
  FSize = 0;
  int64_t p = StreamHeaderSize + static_cast<int64_t>(h.ExtraHeaderSize);
  for (uint32_t i = 0; i < h.BlockCount; ++i) {
    // A block must have its 16 header bytes and end, with its compressed
    // bytes, at or before the next block, which starts within the raw bytes.
    // Every step moves on by at least 16 bytes, so the loop ends.
    TBlockHeader b{};
    bool broken = raw - p < BlockHeaderSize;
    if (!broken) {
      FInner->Seek(p, soBeginning);
      broken = FInner->Read(&b, BlockHeaderSize) != BlockHeaderSize;
    }
    if (!broken) {
      const int64_t end = p + BlockHeaderSize + static_cast<int64_t>(b.CompressedSize);
      broken = static_cast<int64_t>(b.NextBlockOffset) < end ||
               static_cast<int64_t>(b.NextBlockOffset) > raw;
    }
    if (broken) {
      // The chain ends before this block. A stream that may write cuts the
      // raw bytes there (never beyond their end) and records the new count;
      // a read-only one keeps the shorter chain in memory only.
      FHeader.BlockCount = i;
      if (Writable()) {
        FInner->SetSize(std::min(p, raw));
        SaveStreamHeader();
      }
      break;
    }
    BlockHeaders.Add(b, p);
    p = b.NextBlockOffset;
  }

  // Logical byte X lies in block X div BlockSize: every block but the last
  // spans BlockSize bytes. A damaged UncompressedSize is refused when its
  // block is loaded and never widens the file beyond that mapping.
  const int32_t count = BlockHeaders.ItemCount();
  if (count > 0) {
    const TBlockHeader lastBlock = BlockHeader(count - 1);
    FSize = static_cast<int64_t>(count - 1) * h.BlockSize +
            std::min<int64_t>(lastBlock.UncompressedSize, h.BlockSize);
  }
  FInner->Seek(saved, soBeginning);
}

void TSFSAdvancedFileStream::SaveStreamHeader() {
  FInner->Seek(0, soBeginning);
  FInner->WriteBuffer(&FHeader, StreamHeaderSize);
}

std::vector<uint8_t> TSFSAdvancedFileStream::LoadBlock(int32_t Index) {
  const int32_t count = BlockHeaders.ItemCount();
  if (Index < 0 || Index >= count) RaiseDecompressionError();
  const TBlockHeader h = BlockHeader(Index);
  const uint32_t bs = FHeader.BlockSize;
  const bool last = Index == count - 1;
  // Only the last block may hold fewer than BlockSize bytes, and none more.
  if (h.CompressedSize == 0 || h.UncompressedSize == 0 || h.UncompressedSize > bs ||
      (!last && h.UncompressedSize != bs) ||
      static_cast<int64_t>(h.CompressedSize) > MaxCompressedBlock(bs)) {
    RaiseDecompressionError();
  }

  std::vector<uint8_t> compressed(h.CompressedSize);
  const auto compressedSize = static_cast<int32_t>(h.CompressedSize);
  FInner->Seek(BlockHeaders.Keys(Index) + BlockHeaderSize, soBeginning);
  if (FInner->Read(compressed.data(), compressedSize) != compressedSize) {
    RaiseDecompressionError();
  }

  std::vector<uint8_t> buffer;
  auto produced = static_cast<int32_t>(h.UncompressedSize);
  if (!DecompressBuffer(compressed.data(), compressedSize, buffer, FMethod, produced)) {
    RaiseDecompressionError();
  }
  if (produced != static_cast<int32_t>(h.UncompressedSize) ||
      buffer.size() < static_cast<size_t>(h.UncompressedSize)) {
    throw Exception("TSFSAdvancedFileStream.LoadBlock - decompression error, invalid size.");
  }
  buffer.resize(h.UncompressedSize);
  if (ComputeCheckValue(buffer.data(), h.UncompressedSize, ckCrc16) != h.BlockCheck) {
    throw Exception("TSFSAdvancedFileStream.LoadBlock - decompression crc error.");
  }
  return buffer;
}

std::vector<uint8_t> TSFSAdvancedFileStream::PrepareBufferForWriting(const uint8_t* Buffer,
                                                                     int32_t Size,
                                                                     TBlockHeader& Header) {
  Header.UncompressedSize = static_cast<uint32_t>(Size);
  Header.BlockCheck = ComputeCheckValue(Buffer, static_cast<uint32_t>(Size), ckCrc16);
  std::vector<uint8_t> compressed;
  int32_t compressedSize = 0;
  if (!CompressBuffer(Buffer, Size, compressed, FMethod, compressedSize) || compressedSize <= 0 ||
      compressed.size() < static_cast<size_t>(compressedSize)) {
    throw Exception(
        "TSFSAdvancedFileStream.PrepareBufferForWriting - compression error in PrepareBuffer.");
  }
  compressed.resize(static_cast<size_t>(compressedSize));
  Header.CompressedSize = static_cast<uint32_t>(compressedSize);
  return compressed;
}

void TSFSAdvancedFileStream::DoProgress(double Percent) {
  // Sums of 100 / steps may pass 100 by a rounding step.
  if (OnProgress && !SuppressProgress) OnProgress(*this, std::min(Percent, 100.0));
}

void TSFSAdvancedFileStream::RaiseTooLarge(const char* Operation) const {
  throw Exception(AnsiString("TSFSAdvancedFileStream.") + Operation +
                  " - file too large: its compressed blocks would end past raw offset " +
                  IntToStr(MaxRawStreamEnd) + ".");
}

int32_t TSFSAdvancedFileStream::Read(void* Buffer, int32_t Count) {
  DoProgress(0);
  if (FMethod == 0) {
    const int32_t result = FInner->Read(Buffer, Count);
    DoProgress(100);
    return result;
  }
  int32_t total = 0;
  if (FPosition > FSize) return 0;
  const int64_t bs = FHeader.BlockSize;
  if (FPosition < FSize) {
    FCurrentBlock = static_cast<int32_t>(FPosition / bs);
    FProgressSteps = std::max<int64_t>(1, BlockHeaders.ItemCount() - FCurrentBlock);
    FProgressPercentage = 0;
  }
  auto* out = static_cast<uint8_t*>(Buffer);
  while (FPosition < FSize && total < Count) {
    DoProgress(static_cast<double>(FProgressPercentage));
    const std::vector<uint8_t> block = LoadBlock(FCurrentBlock);
    const int64_t o = FPosition % bs;
    int64_t n = std::min<int64_t>(bs - o, Count - total);
    n = std::min<int64_t>(n, FSize - FPosition);
    if (o + n > static_cast<int64_t>(block.size())) RaiseDecompressionError();
    std::memcpy(out + total, block.data() + o, static_cast<size_t>(n));
    total += static_cast<int32_t>(n);
    if (total < Count) ++FCurrentBlock;
    FPosition += n;
    FProgressPercentage += 100.0L / FProgressSteps;
  }
  DoProgress(100);
  return total;
}

int32_t TSFSAdvancedFileStream::Write(const void* Buffer, int32_t Count) {
  DoProgress(0);
  if (FMethod == 0) {
    const int32_t result = FInner->Write(Buffer, Count);
    DoProgress(100);
    return result;
  }
  if (Count <= 0) return 0;
  if (FPosition > std::numeric_limits<int64_t>::max() - Count) RaiseTooLarge("Write");
  // A write beyond the end first fills the gap with zero bytes; the gap and
  // the data are laid out in one pass, so that nothing is written unless all
  // of it fits.
  WriteRange(std::min(FPosition, FSize), FPosition, static_cast<const uint8_t*>(Buffer),
             FPosition + Count, "Write");
  DoProgress(100);
  return Count;
}

void TSFSAdvancedFileStream::WriteRange(int64_t RangeStart, int64_t DataStart, const uint8_t* Data,
                                        int64_t End, const char* Operation) {
  const int64_t bs = FHeader.BlockSize;
  const int32_t oldCount = BlockHeaders.ItemCount();
  const int64_t first = RangeStart / bs;
  const int64_t last = (End - 1) / bs;
  const int64_t base = StreamHeaderSize + static_cast<int64_t>(FHeader.ExtraHeaderSize);
  // RangeStart is at most Size, which the blocks cover.
  if (first > oldCount) RaiseDecompressionError();
  const int64_t firstStart =
      first == 0
          ? base
          : static_cast<int64_t>(BlockHeader(static_cast<int32_t>(first) - 1).NextBlockOffset);

  // Every block takes at least its 16 header bytes: a file that cannot fit
  // even so is refused before any block is compressed.
  const int64_t newCount64 = std::max<int64_t>(oldCount, last + 1);
  if (newCount64 > std::numeric_limits<int32_t>::max() ||
      firstStart + (newCount64 - first) * BlockHeaderSize > MaxRawStreamEnd) {
    RaiseTooLarge(Operation);
  }
  const auto newCount = static_cast<int32_t>(newCount64);
  const int64_t newSize = std::max(FSize, End);
  bool moved = last > oldCount - 1;

  FProgressSteps = std::max<int64_t>(1, newCount - first);
  FProgressPercentage = 0;

  // Compress every block the write touches (and, once a block has grown,
  // every later block), reading old blocks from their old places.
  std::vector<TPlannedBlock> plan;
  std::shared_ptr<const std::vector<uint8_t>> zeroBlock;  // a whole new block of zeros
  TBlockHeader zeroHeader{};
  std::vector<uint8_t> buffer;
  int64_t prevNext = firstStart;
  for (int64_t i = first; i < newCount && (moved || i <= last); ++i) {
    DoProgress(static_cast<double>(FProgressPercentage));
    const auto index = static_cast<int32_t>(i);
    const int64_t blockStart = i * bs;
    const bool isFinal = index == newCount - 1;
    const auto len = static_cast<int32_t>(isFinal && newSize % bs != 0 ? newSize % bs : bs);
    const TBlockHeader old = index < oldCount ? BlockHeader(index) : TBlockHeader{};

    TPlannedBlock pb;
    pb.Index = index;
    pb.Header = old;
    const bool onlyZeros =
        index >= oldCount && blockStart >= RangeStart && blockStart + bs <= DataStart;
    if (onlyZeros && len == bs) {
      // Gaps of whole blocks compress alike: one buffer serves them all.
      if (!zeroBlock) {
        buffer.assign(static_cast<size_t>(bs), 0);
        zeroBlock = std::make_shared<const std::vector<uint8_t>>(
            PrepareBufferForWriting(buffer.data(), len, zeroHeader));
      }
      pb.Header.UncompressedSize = zeroHeader.UncompressedSize;
      pb.Header.BlockCheck = zeroHeader.BlockCheck;
      pb.Header.CompressedSize = zeroHeader.CompressedSize;
      pb.Data = zeroBlock;
    } else {
      buffer.assign(static_cast<size_t>(bs), 0);
      if (index < oldCount) {
        const std::vector<uint8_t> oldBytes = LoadBlock(index);
        std::memcpy(buffer.data(), oldBytes.data(), oldBytes.size());
      }
      if (i <= last) {
        const int64_t from = std::max(blockStart, DataStart);
        const int64_t to = std::min(blockStart + bs, End);
        if (from < to) {
          std::memcpy(buffer.data() + (from - blockStart), Data + (from - DataStart),
                      static_cast<size_t>(to - from));
        }
      }
      pb.Data = std::make_shared<const std::vector<uint8_t>>(
          PrepareBufferForWriting(buffer.data(), len, pb.Header));
    }

    // A block that stays or shrinks goes back in place (leaving a gap before
    // the next one); one that grows moves itself and every later block.
    pb.Offset = prevNext;
    const int64_t end =
        pb.Offset + BlockHeaderSize + static_cast<int64_t>(pb.Header.CompressedSize);
    pb.Next = old.NextBlockOffset;
    if (isFinal) pb.Next = end;
    if (pb.Header.CompressedSize > old.CompressedSize) moved = true;
    if (moved && !isFinal) pb.Next = end;
    if (end > MaxRawStreamEnd || pb.Next > MaxRawStreamEnd) RaiseTooLarge(Operation);
    prevNext = pb.Next;
    plan.push_back(std::move(pb));
    FProgressPercentage += 100.0L / FProgressSteps;
  }

  // The new layout becomes the stream's own, then goes to the raw bytes.
  BlockHeaders.SetCount(newCount);
  for (TPlannedBlock& pb : plan) {
    pb.Header.NextBlockOffset = static_cast<uint32_t>(pb.Next);
    BlockHeaders.SetRecord(pb.Index, pb.Header);
    BlockHeaders.Keys(pb.Index) = pb.Offset;
  }
  FSize = newSize;
  FPosition = End;
  FCurrentBlock = static_cast<int32_t>(std::min<int64_t>(FPosition / bs, newCount));
  FHeader.BlockCount = static_cast<uint32_t>(newCount);

  std::vector<uint8_t> out;
  for (const TPlannedBlock& pb : plan) {
    DoProgress(static_cast<double>(FProgressPercentage));
    out.resize(BlockHeaderSize + pb.Data->size());
    std::memcpy(out.data(), &pb.Header, BlockHeaderSize);
    std::memcpy(out.data() + BlockHeaderSize, pb.Data->data(), pb.Data->size());
    FInner->Seek(pb.Offset, soBeginning);
    FInner->WriteBuffer(out.data(), static_cast<int32_t>(out.size()));
  }
  SaveStreamHeader();
}

int64_t TSFSAdvancedFileStream::Seek(int64_t Offset, uint16_t Origin) {
  if (FMethod == 0) return FInner->Seek(Offset, Origin);
  switch (Origin) {
    case soBeginning:
      FPosition = Offset;
      break;
    case soCurrent:
      FPosition = SaturatedAdd(FPosition, Offset);
      break;
    case soEnd:
      FPosition = SaturatedAdd(FSize, Offset);
      break;
    default:
      break;
  }
  if (FPosition <= 0) {
    FPosition = 0;
    FCurrentBlock = 0;
  } else {
    FCurrentBlock = FSize != 0
                        ? static_cast<int32_t>(std::min<int64_t>(
                              FPosition / FHeader.BlockSize, std::numeric_limits<int32_t>::max()))
                        : 0;
  }
  return FPosition;
}

void TSFSAdvancedFileStream::SetSize(int64_t NewSize) {
  if (FMethod == 0) {
    FInner->SetSize(NewSize);
    return;
  }
  if (NewSize < 0) NewSize = 0;
  if (NewSize == FSize) return;

  if (NewSize > FSize) {
    const int64_t position = FPosition;
    Seek(0, soEnd);
    const int64_t ext = NewSize - FSize;
    const bool suppressed = SuppressProgress;
    SuppressProgress = true;
    try {
      WriteRange(FSize, NewSize, nullptr, NewSize, "SetSize");
    } catch (...) {
      // A growth that fails leaves the position where it was.
      SuppressProgress = suppressed;
      Seek(position, soBeginning);
      throw;
    }
    SuppressProgress = suppressed;
    if (FSize != NewSize) {
      throw Exception("TSFSAdvancedFileStream.SetSize - error extending file. NewSize = " +
                      IntToStr(NewSize) + ", extSize = " + IntToStr(ext));
    }
    return;
  }

  // Shrinking: blocks past the new end go, the block it falls into is cut.
  const int64_t bs = FHeader.BlockSize;
  const auto k = static_cast<int32_t>(NewSize / bs);
  const auto r = static_cast<int32_t>(NewSize % bs);
  if (k >= BlockHeaders.ItemCount()) RaiseDecompressionError();
  TBlockHeader rewritten{};
  std::vector<uint8_t> compressed;
  if (r > 0) {
    const std::vector<uint8_t> block = LoadBlock(k);
    compressed = PrepareBufferForWriting(block.data(), r, rewritten);
  }
  const int64_t cutAt = BlockHeaders.Keys(k);
  const int64_t end = cutAt + BlockHeaderSize + static_cast<int64_t>(rewritten.CompressedSize);
  if (r > 0 && end > MaxRawStreamEnd) RaiseTooLarge("SetSize");

  const int32_t keep = k + (r > 0 ? 1 : 0);
  BlockHeaders.SetCount(keep);
  FHeader.BlockCount = static_cast<uint32_t>(keep);
  SaveStreamHeader();
  FInner->SetSize(cutAt);
  if (r > 0) {
    rewritten.NextBlockOffset = static_cast<uint32_t>(end);
    BlockHeaders.SetRecord(k, rewritten);
    std::vector<uint8_t> out(BlockHeaderSize + compressed.size());
    std::memcpy(out.data(), &rewritten, BlockHeaderSize);
    std::memcpy(out.data() + BlockHeaderSize, compressed.data(), compressed.size());
    FInner->Seek(cutAt, soBeginning);
    FInner->WriteBuffer(out.data(), static_cast<int32_t>(out.size()));
  }
  FSize = NewSize;
  if (FPosition > FSize) Seek(0, soEnd);
}

}  // namespace zk
