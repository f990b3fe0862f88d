// The compressed block stream over memory and sparse stores: the raw layout,
// reading, writing, moving blocks, resizing, progress, and damaged or hostile
// raw bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "container/api/AdvancedFileStream.h"
#include "container/compress/SFSCompress.h"
#include "container/crypto/CheckValue.h"
#include "tests/api/StreamTestSupport.h"

namespace zk {
namespace {

using namespace zk::testing;

constexpr int64_t BS1 = 524288;   // block size of method 1
constexpr int64_t BS2 = 1048576;  // block size of method 2

const char* const DecompressionError = "TSFSAdvancedFileStream.LoadBlock - decompression error.";
const char* const InvalidSizeError =
    "TSFSAdvancedFileStream.LoadBlock - decompression error, invalid size.";
const char* const CrcError = "TSFSAdvancedFileStream.LoadBlock - decompression crc error.";

bool IsLoadBlockError(const std::string& Message) {
  return Message == DecompressionError || Message == InvalidSizeError || Message == CrcError;
}

// A memory store whose reads can be cut short and whose writes refused.
class TFaultyMemoryStream : public TMemoryStream {
 public:
  bool ShortReads = false;
  bool RefuseWrites = false;

  int32_t Read(void* Buffer, int32_t Count) override {
    if (ShortReads && Count > BlockHeaderSize) --Count;
    return TMemoryStream::Read(Buffer, Count);
  }
  int32_t Write(const void* Buffer, int32_t Count) override {
    return RefuseWrites ? 0 : TMemoryStream::Write(Buffer, Count);
  }
};

std::unique_ptr<TSFSAdvancedFileStream> NewStream(uint8_t Method) {
  return std::make_unique<TSFSAdvancedFileStream>(std::make_unique<TMemoryStream>(), "f.dat",
                                                  0xFFFF, Method);
}

std::unique_ptr<TSFSAdvancedFileStream> OpenStream(const std::vector<uint8_t>& Raw,
                                                   uint16_t Mode = 2) {
  return std::make_unique<TSFSAdvancedFileStream>(MemoryWith(Raw), "f.dat", Mode, 0);
}

std::vector<uint8_t> RawOf(TSFSAdvancedFileStream& S) {
  return BytesOf(dynamic_cast<TMemoryStream&>(S.InnerStream()));
}

void WriteAll(TStream& S, const std::vector<uint8_t>& Data) {
  if (!Data.empty()) S.WriteBuffer(Data.data(), static_cast<int32_t>(Data.size()));
}

std::vector<uint8_t> Stored(uint8_t Method, const std::vector<uint8_t>& Data) {
  auto s = NewStream(Method);
  WriteAll(*s, Data);
  return RawOf(*s);
}

std::vector<uint8_t> Compressed(const std::vector<uint8_t>& Data, uint8_t Method) {
  std::vector<uint8_t> out;
  int32_t size = 0;
  EXPECT_TRUE(CompressBuffer(Data.data(), static_cast<int32_t>(Data.size()), out, Method, size));
  out.resize(static_cast<size_t>(size));
  return out;
}

// The chain as the stream holds it agrees with itself and with the raw bytes.
void ExpectSoundChain(TSFSAdvancedFileStream& S) {
  const int64_t raw = S.InnerStream().GetSize();
  int64_t expectedStart = StreamHeaderSize + S.Header().ExtraHeaderSize;
  int64_t size = 0;
  for (int32_t i = 0; i < S.BlockCount(); ++i) {
    const TBlockHeader h = S.BlockHeader(i);
    EXPECT_EQ(S.BlockOffset(i), expectedStart) << "block " << i;
    EXPECT_GE(h.NextBlockOffset, S.BlockOffset(i) + BlockHeaderSize + h.CompressedSize);
    EXPECT_LE(h.NextBlockOffset, raw);
    if (i + 1 < S.BlockCount()) {
      EXPECT_EQ(h.UncompressedSize, S.Header().BlockSize);
    }
    size += h.UncompressedSize;
    expectedStart = h.NextBlockOffset;
  }
  EXPECT_EQ(S.Header().BlockCount, static_cast<uint32_t>(S.BlockCount()));
  EXPECT_EQ(S.GetSize(), size);
}

// ---- layout ----

TEST(AdvancedFileStream, Method0LeavesNoStreamHeader) {
  const std::vector<uint8_t> data = TextBytes(3000, 1);
  auto s = NewStream(0);
  WriteAll(*s, data);
  EXPECT_EQ(s->Method(), 0);
  EXPECT_EQ(RawOf(*s), data);

  auto again = OpenStream(data);
  EXPECT_EQ(again->Method(), 0);
  EXPECT_EQ(again->GetSize(), 3000);
  EXPECT_EQ(ReadAll(*again), data);
}

TEST(AdvancedFileStream, ShortOrUnsignedRawBytesPassThrough) {
  std::vector<uint8_t> shortSigned = Stored(1, TextBytes(500, 2));
  shortSigned.resize(127);
  std::vector<uint8_t> unsignedRaw = Stored(1, TextBytes(500, 2));
  unsignedRaw[3] = 0x02;
  for (const auto& raw : {shortSigned, unsignedRaw, std::vector<uint8_t>{}}) {
    auto s = OpenStream(raw);
    EXPECT_EQ(s->Method(), 0);
    EXPECT_EQ(s->GetSize(), static_cast<int64_t>(raw.size()));
    EXPECT_EQ(ReadAll(*s), raw);
  }
}

TEST(AdvancedFileStream, UnsoundStreamHeaderIsNotTaken) {
  const std::vector<uint8_t> good = Stored(1, TextBytes(1000, 3));
  struct Case {
    const char* What;
    size_t At;
    int Width;  // 1 or 4 bytes
    int64_t Value;
  };
  const Case cases[] = {
      {"BlockSize 0", 4, 4, 0},
      {"BlockSize above 1.5 MiB", 4, 4, 1572865},
      {"Method 0", 20, 1, 0},
      {"Method 10", 20, 1, 10},
      {"negative ExtraHeaderSize", 23, 4, -1},
      {"ExtraHeaderSize beyond the raw size", 23, 4, static_cast<int64_t>(good.size()) + 1},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> raw = good;
    if (c.Width == 1) {
      raw[c.At] = static_cast<uint8_t>(c.Value);
    } else {
      Put32(raw, c.At, static_cast<uint32_t>(c.Value));
    }
    auto s = OpenStream(raw, 0);
    EXPECT_EQ(s->Method(), 0) << c.What;
    EXPECT_EQ(ReadAll(*s), raw) << c.What;
  }

  // The limits themselves are taken.
  std::vector<uint8_t> widest = good;
  Put32(widest, 4, 1572864);
  auto s = OpenStream(widest, 0);
  EXPECT_EQ(s->Method(), 1);
  EXPECT_EQ(s->GetSize(), 1000);
}

TEST(AdvancedFileStream, TenBytesWithMethod2GiveExactLayout) {
  const std::vector<uint8_t> data = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
  const std::vector<uint8_t> raw = Stored(2, data);
  const std::vector<uint8_t> packed = Compressed(data, 2);
  const auto c = static_cast<uint32_t>(packed.size());
  ASSERT_EQ(raw.size(), 144 + c);

  EXPECT_EQ(std::vector<uint8_t>(raw.begin(), raw.begin() + 4),
            (std::vector<uint8_t>{0x0A, 0x12, 0x06, 0x01}));
  EXPECT_EQ(Get32(raw, 4), 1048576u);
  EXPECT_EQ(Get32(raw, 8), 0u);
  EXPECT_EQ(Get32(raw, 12), 1u);
  EXPECT_EQ(Get32(raw, 16), 0x40000000u);
  EXPECT_EQ(raw[20], 2);
  EXPECT_EQ(raw[21], 0);
  EXPECT_EQ(raw[22], 0);
  EXPECT_EQ(Get32(raw, 23), 0u);
  for (size_t i = 27; i < 128; ++i) EXPECT_EQ(raw[i], 0) << i;

  EXPECT_EQ(Get32(raw, 128), c);
  EXPECT_EQ(Get32(raw, 132), 10u);
  EXPECT_EQ(Get32(raw, 136), ComputeCheckValue(data.data(), 10, ckCrc16));
  EXPECT_EQ(Get32(raw, 140), 144 + c);
  EXPECT_EQ(std::vector<uint8_t>(raw.begin() + 144, raw.end()), packed);
  EXPECT_EQ(raw[144], 0x78);

  EXPECT_EQ(ReadAll(*OpenStream(raw)), data);
}

TEST(AdvancedFileStream, OneBlockPlusOneByteMakesTwoBlocks) {
  const std::vector<uint8_t> data = TextBytes(BS2 + 1, 4);
  auto s = NewStream(2);
  WriteAll(*s, data);
  ASSERT_EQ(s->BlockCount(), 2);
  EXPECT_EQ(s->BlockHeader(0).UncompressedSize, 1048576u);
  EXPECT_EQ(s->BlockHeader(1).UncompressedSize, 1u);
  ExpectSoundChain(*s);

  auto again = OpenStream(RawOf(*s));
  EXPECT_EQ(again->BlockCount(), 2);
  EXPECT_EQ(ReadAll(*again), data);
}

TEST(AdvancedFileStream, ReadsAtAcrossAndBeyondTheEnd) {
  const std::vector<uint8_t> data = TextBytes(1000, 5);
  auto s = OpenStream(Stored(1, data));
  uint8_t buf[100];
  EXPECT_EQ(s->Seek(0, soEnd), 1000);
  EXPECT_EQ(s->Read(buf, 100), 0);
  EXPECT_EQ(s->Seek(990, soBeginning), 990);
  ASSERT_EQ(s->Read(buf, 100), 10);
  EXPECT_EQ(0, std::memcmp(buf, data.data() + 990, 10));
  EXPECT_EQ(s->Seek(1000, soCurrent), 2000);
  EXPECT_EQ(s->Read(buf, 100), 0);
  EXPECT_EQ(s->Seek(-5000, soCurrent), 0);
  EXPECT_EQ(s->Seek(-1, soEnd), 999);
  EXPECT_EQ(s->Seek(0, 7), 999);  // an unknown origin leaves the position
  EXPECT_EQ(s->GetSize(), 1000);
  EXPECT_EQ(s->GetPosition(), 999);
}

TEST(AdvancedFileStream, ReadAcrossBlocksReturnsEveryByte) {
  const std::vector<uint8_t> data = TextBytes(3 * BS1 + 77, 6);
  auto s = OpenStream(Stored(1, data));
  s->Seek(BS1 - 3, soBeginning);
  const std::vector<uint8_t> got = ReadBytes(*s, BS1 + 10);
  EXPECT_EQ(got, std::vector<uint8_t>(data.begin() + BS1 - 3, data.begin() + 2 * BS1 + 7));
  EXPECT_EQ(s->GetPosition(), 2 * BS1 + 7);
  EXPECT_EQ(s->CurrentBlock(), 2);
  EXPECT_EQ(ReadAll(*s), data);
}

// ---- writing ----

TEST(AdvancedFileStream, WritePastTheEndFillsTheGapWithZeros) {
  struct Case {
    int64_t Size;
    int64_t Gap;
  };
  const Case cases[] = {{1000, 5000}, {0, 5000}, {1000, 3 * BS1 + 7}, {BS1, 10}, {BS1 - 1, 1}};
  for (const Case& c : cases) {
    std::vector<uint8_t> expected = TextBytes(static_cast<size_t>(c.Size), 7);
    auto s = NewStream(1);
    WriteAll(*s, expected);
    EXPECT_EQ(s->Seek(c.Gap, soEnd), c.Size + c.Gap);
    const uint8_t x = 'x';
    EXPECT_EQ(s->Write(&x, 1), 1);
    expected.resize(static_cast<size_t>(c.Size + c.Gap), 0);
    expected.push_back(x);
    EXPECT_EQ(s->GetSize(), c.Size + c.Gap + 1) << c.Size << "+" << c.Gap;
    EXPECT_EQ(s->GetPosition(), c.Size + c.Gap + 1);
    ExpectSoundChain(*s);
    EXPECT_EQ(ReadAll(*s), expected);
    EXPECT_EQ(ReadAll(*OpenStream(RawOf(*s))), expected) << c.Size << "+" << c.Gap;
  }
}

TEST(AdvancedFileStream, OverwriteWithWorseCompressingDataMovesLaterBlocks) {
  std::vector<uint8_t> expected = TextBytes(3 * BS1 + 500, 8);
  auto s = NewStream(1);
  WriteAll(*s, expected);
  const int64_t o1 = s->BlockOffset(1), o2 = s->BlockOffset(2), o3 = s->BlockOffset(3);

  const std::vector<uint8_t> noise = RandomBytes(100000, 9);
  s->Seek(BS1 + 1000, soBeginning);
  WriteAll(*s, noise);
  std::copy(noise.begin(), noise.end(), expected.begin() + BS1 + 1000);

  EXPECT_EQ(s->BlockOffset(1), o1);
  EXPECT_GT(s->BlockOffset(2), o2);
  EXPECT_GT(s->BlockOffset(3), o3);
  for (int32_t r = 2; r < s->BlockCount(); ++r) {
    const TBlockHeader prev = s->BlockHeader(r - 1);
    EXPECT_EQ(s->BlockOffset(r), s->BlockOffset(r - 1) + BlockHeaderSize + prev.CompressedSize);
  }
  ExpectSoundChain(*s);
  EXPECT_EQ(ReadAll(*s), expected);
  auto again = OpenStream(RawOf(*s));
  ExpectSoundChain(*again);
  EXPECT_EQ(ReadAll(*again), expected);
}

TEST(AdvancedFileStream, OverwriteWithBetterCompressingDataStaysInPlace) {
  std::vector<uint8_t> expected = RandomBytes(3 * BS1, 10);
  auto s = NewStream(1);
  WriteAll(*s, expected);
  const int64_t o2 = s->BlockOffset(2);
  const int64_t rawSize = s->InnerStream().GetSize();

  const std::vector<uint8_t> zeros(BS1, 0);
  s->Seek(BS1, soBeginning);
  WriteAll(*s, zeros);
  std::fill(expected.begin() + BS1, expected.begin() + 2 * BS1, 0);

  EXPECT_EQ(s->BlockOffset(2), o2);
  EXPECT_EQ(s->BlockHeader(1).NextBlockOffset, o2);  // a gap is left behind block 1
  EXPECT_LT(s->BlockOffset(1) + BlockHeaderSize + s->BlockHeader(1).CompressedSize, o2);
  EXPECT_EQ(s->InnerStream().GetSize(), rawSize);
  ExpectSoundChain(*s);
  EXPECT_EQ(ReadAll(*OpenStream(RawOf(*s))), expected);
}

TEST(AdvancedFileStream, RandomOperationsMatchAModel) {
  std::mt19937 rng(11);
  std::vector<uint8_t> model;
  auto s = NewStream(1);
  for (int step = 0; step < 40; ++step) {
    const uint32_t kind = rng() % 10;
    if (kind < 6) {
      const int64_t at = static_cast<int64_t>(rng() % (model.size() + BS1));
      const size_t len = 1 + rng() % (3 * BS1 / 2);
      const std::vector<uint8_t> bytes =
          rng() % 2 ? TextBytes(len, rng()) : RandomBytes(len, rng());
      s->Seek(at, soBeginning);
      WriteAll(*s, bytes);
      const auto end = static_cast<size_t>(at) + len;
      if (model.size() < end) model.resize(end, 0);
      std::copy(bytes.begin(), bytes.end(), model.begin() + at);
    } else if (kind < 8) {
      const auto size = static_cast<int64_t>(rng() % (model.size() + BS1 + 1));
      s->SetSize(size);
      model.resize(static_cast<size_t>(size), 0);
    } else {
      s = OpenStream(RawOf(*s));
    }
    ASSERT_EQ(s->GetSize(), static_cast<int64_t>(model.size())) << "step " << step;
    ExpectSoundChain(*s);
    if (step % 8 == 7) {
      ASSERT_EQ(ReadAll(*s), model) << "step " << step;
    }
  }
  EXPECT_EQ(ReadAll(*OpenStream(RawOf(*s))), model);
}

TEST(AdvancedFileStream, EmptyAndZeroCountWritesChangeNothing) {
  auto s = NewStream(1);
  const std::vector<uint8_t> raw = RawOf(*s);
  ASSERT_EQ(raw.size(), 128u);
  uint8_t b = 1;
  EXPECT_EQ(s->Write(&b, 0), 0);
  EXPECT_EQ(s->Write(&b, -1), 0);
  EXPECT_EQ(RawOf(*s), raw);
  EXPECT_EQ(s->GetSize(), 0);
  EXPECT_EQ(s->BlockCount(), 0);
  EXPECT_EQ(s->Read(&b, 1), 0);
}

// ---- resizing ----

TEST(AdvancedFileStream, SetSizeToWholeBlocksCutsTheRawBytes) {
  const std::vector<uint8_t> data = TextBytes(2 * BS1 + 1000, 12);
  auto s = NewStream(1);
  WriteAll(*s, data);
  ASSERT_EQ(s->BlockCount(), 3);
  const int64_t third = s->BlockOffset(2);

  s->SetSize(2 * BS1);
  EXPECT_EQ(s->BlockCount(), 2);
  EXPECT_EQ(s->GetSize(), 2 * BS1);
  EXPECT_EQ(s->GetPosition(), 2 * BS1);
  std::vector<uint8_t> raw = RawOf(*s);
  EXPECT_EQ(static_cast<int64_t>(raw.size()), third);
  EXPECT_EQ(Get32(raw, 12), 2u);
  EXPECT_EQ(ReadAll(*OpenStream(raw)), std::vector<uint8_t>(data.begin(), data.begin() + 2 * BS1));

  s->SetSize(0);
  raw = RawOf(*s);
  EXPECT_EQ(raw.size(), 128u);
  EXPECT_EQ(Get32(raw, 12), 0u);
  EXPECT_EQ(s->GetSize(), 0);
  EXPECT_EQ(OpenStream(raw)->GetSize(), 0);
}

TEST(AdvancedFileStream, SetSizeInsideABlockRewritesIt) {
  const std::vector<uint8_t> data = TextBytes(2 * BS1 + 1000, 13);
  auto s = NewStream(1);
  WriteAll(*s, data);
  s->Seek(100, soBeginning);
  s->SetSize(BS1 + 10);
  ASSERT_EQ(s->BlockCount(), 2);
  const TBlockHeader h = s->BlockHeader(1);
  EXPECT_EQ(h.UncompressedSize, 10u);
  EXPECT_EQ(h.NextBlockOffset, s->BlockOffset(1) + BlockHeaderSize + h.CompressedSize);
  EXPECT_EQ(s->InnerStream().GetSize(), h.NextBlockOffset);
  EXPECT_EQ(s->GetPosition(), 100);  // a position inside the file stays
  ExpectSoundChain(*s);
  const std::vector<uint8_t> prefix(data.begin(), data.begin() + BS1 + 10);
  EXPECT_EQ(ReadAll(*s), prefix);
  EXPECT_EQ(ReadAll(*OpenStream(RawOf(*s))), prefix);

  s->SetSize(-5);  // a negative size empties the file
  EXPECT_EQ(s->GetSize(), 0);
}

TEST(AdvancedFileStream, SetSizeGrowsWithZerosWithoutProgress) {
  const std::vector<uint8_t> data = TextBytes(1000, 14);
  auto s = NewStream(1);
  WriteAll(*s, data);
  int calls = 0;
  s->OnProgress = [&](TStream&, double) { ++calls; };
  s->SetSize(1000 + 2 * BS1);
  EXPECT_EQ(calls, 0);
  EXPECT_FALSE(s->SuppressProgress);
  EXPECT_EQ(s->GetSize(), 1000 + 2 * BS1);
  EXPECT_EQ(s->GetPosition(), 1000 + 2 * BS1);
  ExpectSoundChain(*s);
  std::vector<uint8_t> expected = data;
  expected.resize(1000 + 2 * BS1, 0);
  EXPECT_EQ(ReadAll(*OpenStream(RawOf(*s))), expected);
  EXPECT_EQ(ReadAll(*s), expected);
  EXPECT_GT(calls, 0);  // reading reports again
}

TEST(AdvancedFileStream, ProgressRunsFromZeroToHundred) {
  auto s = NewStream(1);
  std::vector<double> seen;
  s->OnProgress = [&](TStream& Sender, double Percent) {
    EXPECT_EQ(&Sender, s.get());
    seen.push_back(Percent);
  };
  WriteAll(*s, TextBytes(3 * BS1, 15));
  for (int pass = 0; pass < 2; ++pass) {
    ASSERT_GE(seen.size(), 4u);
    EXPECT_EQ(seen.front(), 0);
    EXPECT_EQ(seen.back(), 100);
    for (size_t i = 1; i < seen.size(); ++i) {
      EXPECT_GE(seen[i], seen[i - 1]);
      EXPECT_LE(seen[i], 100);
    }
    seen.clear();
    ReadAll(*s);
  }
  s->SuppressProgress = true;
  seen.clear();
  ReadAll(*s);
  EXPECT_TRUE(seen.empty());
}

// ---- creation ----

TEST(AdvancedFileStream, NewFileWithAnUnknownMethodIsRefused) {
  EXPECT_EQ(MessageOf([] { NewStream(10); }),
            "TSFSAdvancedFileStream.Create - invalid compression method = 10.");
}

TEST(AdvancedFileStream, NewHeaderThatCannotBeWrittenRaises) {
  auto inner = std::make_unique<TFaultyMemoryStream>();
  inner->RefuseWrites = true;
  EXPECT_EQ(MessageOf([&] { TSFSAdvancedFileStream s(std::move(inner), "f", 0xFFFF, 2); }),
            "TSFSAdvancedFileStream.Create - error writing to data stream. May be data stream "
            "in read only mode.");
}

TEST(AdvancedFileStream, NoContainerIsRefused) {
  EXPECT_EQ(MessageOf([] {
              TSFSAdvancedFileStream s(static_cast<TSingleFileSystem*>(nullptr), "a", 0, "", "", "",
                                       0);
            }),
            "TSFSAdvancedFileStream.Create - SingleFileSystem = nil.");
}

// ---- damaged blocks ----

// Three blocks; the middle one is damaged by each case in turn.
TEST(AdvancedFileStream, DamagedBlockFailsOnlyWhereTouched) {
  const std::vector<uint8_t> data = TextBytes(2 * BS1 + 1000, 16);
  auto made = NewStream(1);
  WriteAll(*made, data);
  const std::vector<uint8_t> good = RawOf(*made);
  const size_t at = static_cast<size_t>(made->BlockOffset(1));
  const TBlockHeader h = made->BlockHeader(1);

  struct Case {
    const char* What;
    size_t Offset;
    uint32_t Value;
    bool Flip;             // XOR the byte at Offset with 0x55 instead
    const char* Expected;  // nullptr: any of the three LoadBlock messages
  };
  const Case cases[] = {
      {"compressed byte", at + 16 + h.CompressedSize / 2, 0, true, nullptr},
      {"first compressed byte", at + 16, 0, true, nullptr},
      {"BlockCheck", at + 8, h.BlockCheck ^ 1, false, CrcError},
      {"UncompressedSize 0", at + 4, 0, false, DecompressionError},
      {"UncompressedSize above BlockSize", at + 4, BS1 + 1, false, DecompressionError},
      {"UncompressedSize short, not last", at + 4, BS1 - 1, false, DecompressionError},
      {"CompressedSize 0", at, 0, false, DecompressionError},
      {"CompressedSize short", at, h.CompressedSize - 10, false, nullptr},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> raw = good;
    if (c.Flip) {
      raw[c.Offset] ^= 0x55;
    } else {
      Put32(raw, c.Offset, c.Value);
    }
    for (uint16_t mode : {uint16_t{0}, uint16_t{2}}) {
      auto s = OpenStream(raw, mode);
      ASSERT_EQ(s->BlockCount(), 3) << c.What;
      uint8_t buf[10];
      s->Seek(BS1 + 5, soBeginning);
      const std::string m = MessageOf([&] { s->Read(buf, 10); });
      if (c.Expected != nullptr) {
        EXPECT_EQ(m, c.Expected) << c.What;
      } else {
        EXPECT_TRUE(IsLoadBlockError(m)) << c.What << ": " << m;
      }
      s->Seek(3, soBeginning);
      ASSERT_EQ(s->Read(buf, 10), 10) << c.What;
      EXPECT_EQ(0, std::memcmp(buf, data.data() + 3, 10));
      s->Seek(2 * BS1 + 990, soBeginning);
      ASSERT_EQ(s->Read(buf, 10), 10) << c.What;
      EXPECT_EQ(0, std::memcmp(buf, data.data() + 2 * BS1 + 990, 10));
      // A write or cut touching the damaged block fails with nothing written.
      if (mode == 2) {
        s->Seek(BS1 + 5, soBeginning);
        EXPECT_TRUE(IsLoadBlockError(MessageOf([&] { s->Write(buf, 1); }))) << c.What;
        EXPECT_TRUE(IsLoadBlockError(MessageOf([&] { s->SetSize(BS1 + 7); }))) << c.What;
        EXPECT_EQ(RawOf(*s), raw) << c.What;
        EXPECT_EQ(s->GetSize(), 2 * BS1 + 1000);
      }
    }
  }
}

TEST(AdvancedFileStream, DamagedLastBlockSizeNeverWidensTheFile) {
  const std::vector<uint8_t> data = TextBytes(BS1 + 100, 17);
  const std::vector<uint8_t> good = Stored(1, data);
  const size_t at = static_cast<size_t>(OpenStream(good)->BlockOffset(1));
  const std::vector<uint8_t> head(data.begin(), data.begin() + 10);
  uint8_t buf[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};

  // Empty: the file ends where the block starts, and appending must
  // rewrite the damaged block, which fails with nothing written.
  std::vector<uint8_t> raw = good;
  Put32(raw, at + 4, 0);
  auto s = OpenStream(raw);
  EXPECT_EQ(s->GetSize(), BS1);
  s->Seek(0, soEnd);
  EXPECT_EQ(MessageOf([&] { s->Write(buf, 10); }), DecompressionError);
  EXPECT_EQ(RawOf(*s), raw);
  s->Seek(0, soBeginning);
  EXPECT_EQ(ReadBytes(*s, 10), head);

  // Too large: the block counts as full, fails when read, and what is
  // appended after it stays readable.
  for (uint32_t bad : {static_cast<uint32_t>(BS1 + 1), 0xFFFFFFFFu}) {
    raw = good;
    Put32(raw, at + 4, bad);
    s = OpenStream(raw);
    EXPECT_EQ(s->GetSize(), 2 * BS1);
    s->Seek(BS1 + 1, soBeginning);
    EXPECT_EQ(MessageOf([&] { s->Read(buf, 10); }), DecompressionError);
    s->Seek(0, soEnd);
    EXPECT_EQ(s->Write(buf, 10), 10);
    auto again = OpenStream(RawOf(*s));
    again->Seek(2 * BS1, soBeginning);
    EXPECT_EQ(ReadBytes(*again, 10), std::vector<uint8_t>(buf, buf + 10));
    again->Seek(0, soBeginning);
    EXPECT_EQ(ReadBytes(*again, 10), head);
  }
}

TEST(AdvancedFileStream, CompressedBytesThatCannotBeReadInFullFail) {
  const std::vector<uint8_t> data = TextBytes(5000, 18);
  auto inner = std::make_unique<TFaultyMemoryStream>();
  const std::vector<uint8_t> raw = Stored(1, data);
  inner->WriteBuffer(raw.data(), static_cast<int32_t>(raw.size()));
  TFaultyMemoryStream* store = inner.get();
  TSFSAdvancedFileStream s(std::move(inner), "f", 0, 0);
  store->ShortReads = true;
  uint8_t buf[10];
  EXPECT_EQ(MessageOf([&] { s.Read(buf, 10); }), DecompressionError);
  EXPECT_EQ(s.GetPosition(), 0);
  store->ShortReads = false;
  EXPECT_EQ(s.Read(buf, 10), 10);
}

// ---- broken chains ----

TEST(AdvancedFileStream, BrokenChainIsCutOnlyWhenWritable) {
  const std::vector<uint8_t> data = TextBytes(2 * BS1 + 1000, 19);
  auto made = NewStream(1);
  WriteAll(*made, data);
  const int64_t third = made->BlockOffset(2);
  const std::vector<uint8_t> prefix(data.begin(), data.begin() + 2 * BS1);

  for (int64_t keep : {third + 100, third + 8, third}) {
    std::vector<uint8_t> raw = RawOf(*made);
    raw.resize(static_cast<size_t>(keep));

    auto reader = OpenStream(raw, 0);
    EXPECT_EQ(reader->BlockCount(), 2);
    EXPECT_EQ(reader->GetSize(), 2 * BS1);
    EXPECT_EQ(ReadAll(*reader), prefix);
    EXPECT_EQ(RawOf(*reader), raw);  // nothing written

    auto writer = OpenStream(raw, 2);
    EXPECT_EQ(writer->BlockCount(), 2);
    const std::vector<uint8_t> cut = RawOf(*writer);
    EXPECT_EQ(static_cast<int64_t>(cut.size()), third);
    EXPECT_EQ(Get32(cut, 12), 2u);
    ExpectSoundChain(*writer);
    EXPECT_EQ(ReadAll(*OpenStream(cut, 0)), prefix);
  }
}

TEST(AdvancedFileStream, BadNextBlockOffsetEndsTheChainBeforeThatBlock) {
  const std::vector<uint8_t> data = TextBytes(2 * BS1 + 1000, 20);
  auto made = NewStream(1);
  WriteAll(*made, data);
  const std::vector<uint8_t> good = RawOf(*made);
  const size_t at = static_cast<size_t>(made->BlockOffset(1));
  const TBlockHeader h = made->BlockHeader(1);
  const uint32_t values[] = {0, static_cast<uint32_t>(at),
                             static_cast<uint32_t>(at + 16 + h.CompressedSize - 1),
                             static_cast<uint32_t>(good.size() + 1), 0xFFFFFFFF};
  for (uint32_t next : values) {
    std::vector<uint8_t> raw = good;
    Put32(raw, at + 12, next);
    auto s = OpenStream(raw, 2);
    EXPECT_EQ(s->BlockCount(), 1) << next;
    EXPECT_EQ(s->InnerStream().GetSize(), static_cast<int64_t>(at)) << next;
    EXPECT_EQ(ReadAll(*s), std::vector<uint8_t>(data.begin(), data.begin() + BS1));
  }
}

TEST(AdvancedFileStream, CutNeverExtendsTheRawBytes) {
  std::vector<uint8_t> raw = Stored(1, TextBytes(1000, 21));
  // Block 0 would start past the raw end.
  Put32(raw, 23, static_cast<uint32_t>(raw.size() - 10));
  auto s = OpenStream(raw, 2);
  EXPECT_EQ(s->Method(), 1);
  EXPECT_EQ(s->BlockCount(), 0);
  EXPECT_EQ(s->GetSize(), 0);
  const std::vector<uint8_t> after = RawOf(*s);
  EXPECT_EQ(after.size(), raw.size());
  EXPECT_EQ(Get32(after, 12), 0u);
}

TEST(AdvancedFileStream, BlockCountBeyondTheChainIsCorrected) {
  const std::vector<uint8_t> data = TextBytes(BS1 + 10, 22);
  std::vector<uint8_t> raw = Stored(1, data);
  Put32(raw, 12, 0xFFFFFFFF);
  auto reader = OpenStream(raw, 0);
  EXPECT_EQ(reader->BlockCount(), 2);
  EXPECT_EQ(ReadAll(*reader), data);
  EXPECT_EQ(RawOf(*reader), raw);
  auto writer = OpenStream(raw, 2);
  EXPECT_EQ(writer->BlockCount(), 2);
  const std::vector<uint8_t> fixed = RawOf(*writer);
  EXPECT_EQ(fixed.size(), raw.size());
  EXPECT_EQ(Get32(fixed, 12), 2u);
}

TEST(AdvancedFileStream, HostileHeadersOpenQuicklyAndSafely) {
  // A tiny block size and a chain of many empty blocks: every step of the
  // chain moves forward, the load ends, and reads fail cleanly.
  std::vector<uint8_t> raw = Stored(1, TextBytes(100, 23));
  Put32(raw, 4, 1);            // BlockSize 1
  Put32(raw, 12, 0x7FFFFFFF);  // BlockCount
  for (int i = 0; i < 1000; ++i) {
    const size_t p = raw.size();
    raw.resize(p + 16, 0);
    Put32(raw, p + 12, static_cast<uint32_t>(p + 16));
  }
  // Link the real block to the chain of empty headers.
  Put32(raw, 128 + 12, static_cast<uint32_t>(raw.size() - 1000 * 16));
  auto s = OpenStream(raw, 0);
  EXPECT_EQ(s->BlockCount(), 1001);
  uint8_t buf[4];
  EXPECT_EQ(MessageOf([&] { s->Read(buf, 4); }), DecompressionError);  // 100 bytes > BlockSize
  s->Seek(500, soBeginning);
  EXPECT_EQ(MessageOf([&] { s->Read(buf, 4); }), DecompressionError);  // CompressedSize 0
}

// ---- the 32-bit raw limit ----

// Block 1 of a two-block file is moved up so that, once Append is appended
// to the file, it ends Room bytes below the top of the 32-bit raw range.
class RawLimit : public ::testing::Test {
 protected:
  void Build(int64_t Room) {
    Store = std::make_unique<TSparseStream>();
    Data = TextBytes(BS1 + 1000, 24);
    Append = RandomBytes(200, 25);
    {
      TSFSAdvancedFileStream s(std::make_unique<TStreamRef>(*Store), "big", 0xFFFF, 1);
      WriteAll(s, Data);
      Offset1 = s.BlockOffset(1);
      Block1 = s.BlockHeader(1);
    }
    // The compressed size block 1 gets with Append.
    std::vector<uint8_t> grown(Data.begin() + BS1, Data.end());
    grown.insert(grown.end(), Append.begin(), Append.end());
    GrownSize = static_cast<int64_t>(Compressed(grown, 1).size());
    ASSERT_GT(GrownSize, Block1.CompressedSize + 1);

    const int64_t length = BlockHeaderSize + Block1.CompressedSize;
    std::vector<uint8_t> bytes(static_cast<size_t>(length));
    Store->Seek(Offset1, soBeginning);
    Store->ReadBuffer(bytes.data(), static_cast<int32_t>(length));
    Target = MaxRawStreamEnd - Room - (BlockHeaderSize + GrownSize);
    Put32(bytes, 12, static_cast<uint32_t>(Target + length));
    Store->SetSize(Offset1);
    Store->Seek(Target, soBeginning);
    Store->WriteBuffer(bytes.data(), static_cast<int32_t>(length));
    std::vector<uint8_t> link(4);
    Put32(link, 0, static_cast<uint32_t>(Target));
    Store->Seek(StreamHeaderSize + 12, soBeginning);
    Store->WriteBuffer(link.data(), 4);
  }
  std::unique_ptr<TSFSAdvancedFileStream> Open() {
    return std::make_unique<TSFSAdvancedFileStream>(std::make_unique<TStreamRef>(*Store), "big", 2,
                                                    0);
  }

  std::unique_ptr<TSparseStream> Store;
  std::vector<uint8_t> Data;
  std::vector<uint8_t> Append;
  int64_t Offset1 = 0;
  TBlockHeader Block1{};
  int64_t GrownSize = 0;
  int64_t Target = 0;
};

TEST_F(RawLimit, AWriteEndingExactlyAtTheLimitIsStored) {
  Build(0);
  auto s = Open();
  ASSERT_EQ(s->BlockCount(), 2);
  EXPECT_EQ(s->BlockOffset(1), Target);
  EXPECT_EQ(ReadAll(*s), Data);
  s->Seek(0, soEnd);
  WriteAll(*s, Append);
  EXPECT_EQ(s->BlockHeader(1).NextBlockOffset, 0xFFFFFFFFu);
  EXPECT_EQ(Store->GetSize(), MaxRawStreamEnd);
  std::vector<uint8_t> expected = Data;
  expected.insert(expected.end(), Append.begin(), Append.end());
  EXPECT_EQ(ReadAll(*Open()), expected);
}

TEST_F(RawLimit, AWriteEndingPastTheLimitIsRefusedBeforeWriting) {
  Build(-1);
  auto s = Open();
  ASSERT_EQ(s->BlockCount(), 2);
  const auto before = Store->Snapshot();
  const std::string tooLarge =
      "TSFSAdvancedFileStream.Write - file too large: its compressed blocks would end past raw "
      "offset 4294967295.";
  s->Seek(0, soEnd);
  EXPECT_EQ(MessageOf([&] { WriteAll(*s, Append); }), tooLarge);
  // A gap write and a far write are refused the same way.
  const uint8_t bang = '!';
  s->Seek(3 * BS1, soBeginning);
  EXPECT_EQ(MessageOf([&] { s->Write(&bang, 1); }), tooLarge);
  s->Seek(int64_t{1} << 50, soBeginning);
  EXPECT_EQ(MessageOf([&] { s->Write(&bang, 1); }), tooLarge);
  EXPECT_EQ(MessageOf([&] { s->SetSize(s->GetSize() + 10 * BS1); }),
            "TSFSAdvancedFileStream.SetSize - file too large: its compressed blocks would end "
            "past raw offset 4294967295.");
  EXPECT_EQ(s->GetPosition(), int64_t{1} << 50);
  EXPECT_TRUE(Store->Snapshot() == before);
  EXPECT_EQ(s->GetSize(), BS1 + 1000);
  EXPECT_EQ(ReadAll(*s), Data);

  // What still fits is stored.
  s->Seek(0, soEnd);
  EXPECT_EQ(s->Write(&bang, 1), 1);
  s->SetSize(BS1 + 500);
  EXPECT_LE(Store->GetSize(), MaxRawStreamEnd);
  EXPECT_EQ(ReadAll(*Open()), std::vector<uint8_t>(Data.begin(), Data.begin() + BS1 + 500));
}

}  // namespace
}  // namespace zk
