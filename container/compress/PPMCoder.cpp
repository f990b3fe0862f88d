#include "container/compress/PPMCoder.h"

#include <array>
#include <cstring>

namespace zk {

namespace {

constexpr uint32_t UnitSize = 12;
constexpr uint32_t EntrySize = 6;
constexpr uint32_t ReserveBytes = 196608;  // 16384 units, handed out last
constexpr int ReserveBlocks = 128;         // cut into blocks of 128 units
constexpr int ClassCount = 38;
constexpr int TopClass = ClassCount - 1;

constexpr std::array<uint8_t, ClassCount> ClassUnits = {
    1,  2,  3,  4,  6,  8,  10, 12, 15, 18, 21, 24,  28,  32,  36,  40,  44,  48,  52,
    56, 60, 64, 68, 72, 76, 80, 84, 88, 92, 96, 100, 104, 108, 112, 116, 120, 124, 128};

// UnitsClass[n - 1]: the smallest class that holds n units.
constexpr std::array<uint8_t, 128> MakeUnitsClass() {
  std::array<uint8_t, 128> t{};
  int c = 0;
  for (int n = 1; n <= 128; ++n) {
    while (ClassUnits[c] < n) ++c;
    t[n - 1] = static_cast<uint8_t>(c);
  }
  return t;
}
constexpr std::array<uint8_t, 128> UnitsClass = MakeUnitsClass();

// Row of the escape statistics for d - 1 unmasked symbols.
constexpr std::array<uint8_t, 256> MakeEscapeRowOf() {
  std::array<uint8_t, 256> t{};
  for (int i = 0; i < 256; ++i) {
    int v;
    if (i < 4) {
      v = i;
    } else if (i < 12) {
      v = 4 + (i - 4) / 2;
    } else if (i < 44) {
      v = 8 + (i - 12) / 4;
    } else {
      v = 16 + (i - 44) / 8;
    }
    t[i] = static_cast<uint8_t>(v);
  }
  return t;
}
constexpr std::array<uint8_t, 256> EscapeRowOf = MakeEscapeRowOf();
static_assert(EscapeRowOf[255] == 42);

// Column of the binary probabilities for a shorter context of i + 1 entries.
constexpr std::array<uint8_t, 256> MakeBinaryColumnOf() {
  std::array<uint8_t, 256> t{};
  for (int i = 0; i < 256; ++i) t[i] = static_cast<uint8_t>(i < 6 ? 2 * i : (i < 50 ? 12 : 14));
  return t;
}
constexpr std::array<uint8_t, 256> BinaryColumnOf = MakeBinaryColumnOf();

constexpr std::array<uint16_t, 16> BinaryInit = {0x3CDD, 0x1F3F, 0x59BF, 0x48F3, 0x5FFB, 0x5545,
                                                 0x63D1, 0x5D9D, 0x64A1, 0x5ABC, 0x6632, 0x6051,
                                                 0x68F6, 0x549B, 0x6BCA, 0x3AB0};

constexpr std::array<uint8_t, 16> EscapeInitTable = {25, 14, 9, 7, 5, 5, 4, 4,
                                                     4,  3,  3, 3, 2, 2, 2, 2};

constexpr uint32_t Top = 1u << 24;
constexpr uint32_t Bottom = 1u << 15;
constexpr int EndOfData = -1;

}  // namespace

// ---------------------------------------------------------------------------
// Construction and the two coding calls

TPPMModel::TPPMModel(int MaxOrder, int ModelMemoryMB) : FMaxOrder(MaxOrder) {
  if (MaxOrder < 1 || MaxOrder > 16) Fail("model order out of range");
  if (ModelMemoryMB < 1 || ModelMemoryMB > 256) Fail("model memory out of range");
  const size_t size = static_cast<size_t>(ModelMemoryMB) << 20;
  FMemStart = UnitSize;
  FMem.reset(static_cast<uint8_t*>(std::calloc(size + FMemStart, 1)));
  if (!FMem) Fail("model memory can not be obtained");
  FBase = FMem.get();
  FMemEnd = FMemStart + static_cast<Ref>(UnitSize * (size / UnitSize));
}

void TPPMModel::Fail(const char* what) {
  throw EPPMError(AnsiString("TPPMModel - ") + what);
}

size_t TPPMModel::Encode(const uint8_t* In, size_t Size, std::vector<uint8_t>& Out, size_t OutPos) {
  FDecoding = false;
  FOut = &Out;
  FOutPos = OutPos;
  ResetModel();
  StartCoder();
  uint8_t symbol;
  for (size_t i = 0; i < Size; ++i) {
    // A byte that no context holds would end the data early: refuse it.
    if (!CodeSymbol(In[i], symbol)) Fail("symbol not in the model");
  }
  if (CodeSymbol(EndOfData, symbol)) Fail("end-of-data mark not coded");
  for (int i = 0; i < 4; ++i) {
    PutByte(static_cast<uint8_t>(FLow >> 24));
    FLow <<= 8;
  }
  FOut = nullptr;
  return FOutPos;
}

size_t TPPMModel::Decode(const uint8_t* In, size_t Size, std::span<uint8_t> Out) {
  FDecoding = true;
  FIn = In;
  FInSize = Size;
  FInPos = 0;
  ResetModel();
  StartCoder();
  size_t produced = 0;
  uint8_t symbol;
  while (CodeSymbol(0, symbol)) {
    if (produced == Out.size()) Fail("decoded data longer than expected");
    Out[produced++] = symbol;
  }
  return produced;
}

// ---------------------------------------------------------------------------
// Model memory access

void TPPMModel::CopyEntry(Ref to, Ref from) {
  std::memmove(&FBase[to], &FBase[from], EntrySize);
}

TPPMModel::Ref TPPMModel::FindEntry(Ref c, uint8_t symbol) const {
  const uint32_t n = EntryCount(c);
  if (n == 1) return SoleEntry(c);
  if (n == 0) Fail("placeholder used as a context");
  const Ref st = Stats(c);
  for (uint32_t i = 0; i < n; ++i) {
    const Ref e = st + EntrySize * i;
    if (Symbol(e) == symbol) return e;
  }
  Fail("symbol missing from a shorter context");
}

// ---------------------------------------------------------------------------
// Sub-allocator: 12-byte units, LIFO free lists per size class, a reserve at
// the bottom of the memory that is released only when the rest is used up.

void TPPMModel::PushFree(int cls, Ref block) {
  Put32(block, FFreeBlocks[cls]);
  FFreeBlocks[cls] = block;
}

TPPMModel::Ref TPPMModel::PopFree(int cls) {
  const Ref block = FFreeBlocks[cls];
  const Ref link = Get32(block);
  if (link != 0) Context(link);
  FFreeBlocks[cls] = link;
  return block;
}

TPPMModel::Ref TPPMModel::TakeUnits(int n) {
  const int c = UnitsClass[n - 1];
  if (FFreeBlocks[c] != 0) return PopFree(c);
  const uint32_t bytes = UnitSize * ClassUnits[c];
  if (FLowMark + bytes <= FHighMark) {
    const Ref block = FLowMark;
    FLowMark += bytes;
    return block;
  }
  if (!FReserveReleased) {
    FReserveReleased = true;
    for (int i = 0; i < ReserveBlocks; ++i) {
      PushFree(TopClass, FMemStart + static_cast<Ref>(i) * UnitSize * ClassUnits[TopClass]);
    }
  }
  for (int k = c + 1; k <= TopClass; ++k) {
    if (FFreeBlocks[k] != 0) {
      const Ref block = PopFree(k);
      SplitRest(block + UnitSize * ClassUnits[c], ClassUnits[k] - ClassUnits[c]);
      return block;
    }
  }
  return 0;
}

void TPPMModel::SplitRest(Ref position, int r) {
  const int k = UnitsClass[r - 1];
  if (ClassUnits[k] != r) {
    const int first = ClassUnits[k - 1];
    PushFree(k - 1, position);
    position += UnitSize * static_cast<Ref>(first);
    r -= first;
  }
  PushFree(UnitsClass[r - 1], position);
}

TPPMModel::Ref TPPMModel::TakeContext() {
  if (FHighMark != FLowMark) {
    FHighMark -= UnitSize;
    return FHighMark;
  }
  return TakeUnits(1);
}

TPPMModel::Ref TPPMModel::GrowBlock(Ref block, int n) {
  const int c = UnitsClass[n - 1];
  if (c == UnitsClass[n]) return block;
  const Ref grown = TakeUnits(n + 1);
  if (grown == 0) return 0;
  std::memmove(&FBase[grown], &FBase[block], UnitSize * ClassUnits[c]);
  PushFree(c, block);
  return grown;
}

TPPMModel::Ref TPPMModel::ShrinkBlock(Ref block, int oldN, int newN) {
  const int c0 = UnitsClass[oldN - 1];
  const int c1 = UnitsClass[newN - 1];
  if (c0 == c1) return block;
  if (FFreeBlocks[c1] != 0) {
    const Ref smaller = PopFree(c1);
    std::memmove(&FBase[smaller], &FBase[block], UnitSize * ClassUnits[c1]);
    PushFree(c0, block);
    return smaller;
  }
  SplitRest(block + UnitSize * ClassUnits[c1], ClassUnits[c0] - ClassUnits[c1]);
  return block;
}

void TPPMModel::ReleaseBlock(Ref block, int n) {
  PushFree(UnitsClass[n - 1], block);
}

// ---------------------------------------------------------------------------
// Model start

void TPPMModel::ResetModel() {
  // 1. Sub-allocator as at the start; the memory itself is not cleared.
  std::memset(FFreeBlocks, 0, sizeof(FFreeBlocks));
  FLowMark = FMemStart + ReserveBytes;
  FHighMark = FMemEnd;
  FReserveReleased = false;

  // 2. The order-0 context with all 256 symbols.
  const Ref z = TakeContext();
  const Ref st = TakeUnits(128);
  if (z == 0 || st == 0) Fail("model memory too small");
  SetEntryCount(z, 256);
  SetTotalFreq(z, 257);
  SetShorter(z, 0);
  SetEntries(z, st);
  for (uint32_t i = 0; i < 256; ++i) {
    const Ref e = st + EntrySize * i;
    SetSymbol(e, static_cast<uint8_t>(i));
    SetFreq(e, 1);
    SetNext(e, 0);
  }

  // 3.
  FLastHit = 0;
  FOrderDrop = 1;

  // 4. A chain of contexts for symbol 0 repeated, ending in a placeholder.
  Ref e = st;
  Ref prev = z;
  Ref x = 0;
  for (int k = 1;; ++k) {
    x = TakeContext();
    if (x == 0) Fail("model memory too small");
    SetNext(e, x);
    SetEntryCount(x, 1);
    SetShorter(x, prev);
    if (k == FMaxOrder) break;
    e = SoleEntry(x);
    SetSymbol(e, 0);
    SetFreq(e, 1);
    prev = x;
  }
  SetEntryCount(x, 0);
  FTextTail = x;
  FCurrentContext = FTopContext = Shorter(x);

  // 5. - 7. Statistics and masks.
  for (int i = 0; i < 128; ++i) {
    for (int k = 0; k < 16; ++k) {
      FBinaryProb[i][k] = static_cast<uint16_t>(16384 - BinaryInit[k] / (i + 2));
    }
  }
  for (int r = 0; r < 43; ++r) {
    for (int k = 0; k < 8; ++k) {
      FEscapeStats[r][k] = {static_cast<uint16_t>((4 * r + 10) * 8), 3, 3};
    }
  }
  std::memset(FSymbolMask, 0, sizeof(FSymbolMask));
  FMaskStamp = 1;
}

// ---------------------------------------------------------------------------
// Range coder

void TPPMModel::StartCoder() {
  FLow = 0;
  FRange = 0xFFFFFFFFu;
  if (FDecoding) {
    FCode = 0;
    for (int i = 0; i < 4; ++i) FCode = (FCode << 8) | GetByte();
  }
}

uint32_t TPPMModel::GetCount(uint32_t scale) {
  if (scale == 0) Fail("zero total");
  FRange /= scale;
  if (FRange == 0) Fail("range underflow");
  return (FCode - FLow) / FRange;
}

uint32_t TPPMModel::GetBinaryCount() {
  FRange >>= 14;
  if (FRange == 0) Fail("range underflow");
  return (FCode - FLow) / FRange;
}

void TPPMModel::ApplyInterval(uint32_t lowCount, uint32_t highCount) {
  FLow += lowCount * FRange;
  FRange *= highCount - lowCount;
  if (FRange == 0) Fail("empty interval");
}

// The decoder has divided Range already (GetCount).
void TPPMModel::CodeInterval(uint32_t lowCount, uint32_t highCount, uint32_t scale) {
  if (!FDecoding) {
    if (scale == 0) Fail("zero total");
    FRange /= scale;
    if (FRange == 0) Fail("range underflow");
  }
  ApplyInterval(lowCount, highCount);
}

void TPPMModel::CodeBinaryInterval(uint32_t lowCount, uint32_t highCount) {
  if (!FDecoding) FRange >>= 14;
  ApplyInterval(lowCount, highCount);
}

void TPPMModel::NormalizeCoder() {
  for (;;) {
    if ((FLow ^ (FLow + FRange)) < Top) {
    } else if (FRange < Bottom) {
      FRange = (0u - FLow) & (Bottom - 1);
    } else {
      break;
    }
    if (FDecoding) {
      FCode = (FCode << 8) | GetByte();
    } else {
      PutByte(static_cast<uint8_t>(FLow >> 24));
    }
    FLow <<= 8;
    FRange <<= 8;
    // A zero range would shift for ever; no sound state comes here.
    if (FRange == 0) Fail("range collapsed");
  }
}

void TPPMModel::PutByte(uint8_t b) {
  std::vector<uint8_t>& out = *FOut;
  if (FOutPos >= out.size()) out.resize(out.size() + out.size() / 4 + 256);
  out[FOutPos++] = b;
}

uint8_t TPPMModel::GetByte() {
  if (FInPos >= FInSize) Fail("coded data ends early");
  return FIn[FInPos++];
}

// ---------------------------------------------------------------------------
// Coding one symbol. s is the byte to encode or EndOfData; the decoder
// ignores it. Returns false when the end-of-data mark was coded, else the
// symbol coded is in `symbol`.

bool TPPMModel::CodeSymbol(int s, uint8_t& symbol) {
  // 1. - 3.
  Ref c = Context(FCurrentContext);
  const uint32_t n = EntryCount(c);
  if (n == 1) {
    CodeInBinary(c, s);
  } else if (n >= 2) {
    CodeInFirst(c, s);
  } else {
    Fail("placeholder used as a context");
  }
  // 4. Escape to shorter contexts until the symbol is found.
  while (FFoundEntry == 0) {
    NormalizeCoder();
    do {
      ++FOrderDrop;
      c = Shorter(c);
      if (c == 0) return false;
      Context(c);
    } while (EntryCount(c) == static_cast<uint32_t>(FMaskedCount));
    FCurrentContext = c;
    CodeInMasked(c, s);
  }
  symbol = Symbol(FFoundEntry);
  // 5.
  if (FOrderDrop == 0 && EntryCount(Context(Next(FFoundEntry))) != 0) {
    FCurrentContext = FTopContext = Next(FFoundEntry);
  } else {
    LearnSymbol();
    if (FMaskStamp == 0) {
      FMaskStamp = 1;
      std::memset(FSymbolMask, 0, sizeof(FSymbolMask));
    }
  }
  // 6.
  NormalizeCoder();
  return true;
}

// A context with one entry: binary probability of a hit.
void TPPMModel::CodeInBinary(Ref c, int s) {
  const Ref e = SoleEntry(c);
  const uint32_t freq = Freq(e);
  const Ref shorter = Context(Shorter(c));
  const uint32_t shorterCount = EntryCount(shorter);
  if (freq < 1 || freq > 128 || shorterCount < 1 || shorterCount > 256) {
    Fail("invalid one-entry context");
  }
  uint16_t& b = FBinaryProb[freq - 1][FLastHit + BinaryColumnOf[shorterCount - 1]];
  const uint32_t B = b;
  bool hit;
  if (FDecoding) {
    hit = GetBinaryCount() < B;
  } else {
    hit = Symbol(e) == s;
  }
  if (hit) {
    FFoundEntry = e;
    if (freq < 128) SetFreq(e, freq + 1);
    CodeBinaryInterval(0, B);
    b = static_cast<uint16_t>(B + 128 - ((B + 32) >> 7));
    FLastHit = 1;
  } else {
    CodeBinaryInterval(B, 16384);
    b = static_cast<uint16_t>(B - ((B + 32) >> 7));
    FBinEscapeInit = EscapeInitTable[b >> 10];
    FMaskedCount = 1;
    FSymbolMask[Symbol(e)] = FMaskStamp;
    FLastHit = 0;
    FFoundEntry = 0;
  }
}

// A context with two or more entries, nothing masked yet.
void TPPMModel::CodeInFirst(Ref c, int s) {
  const uint32_t scale = TotalFreq(c);
  const uint32_t n = EntryCount(c);
  const Ref st = Stats(c);
  uint32_t count = 0;
  if (FDecoding) count = GetCount(scale);
  Ref p = st;
  const bool first = FDecoding ? count < Freq(p) : Symbol(p) == s;
  if (first) {
    const uint32_t highCount = Freq(p);
    FLastHit = 2 * highCount > scale ? 1 : 0;
    FFoundEntry = p;
    SetFreq(p, highCount + 4);
    SetTotalFreq(c, TotalFreq(c) + 4);
    CodeInterval(0, highCount, scale);
    if (highCount + 4 > 124) HalveFreqs(c);
    return;
  }
  FLastHit = 0;
  uint32_t sum = Freq(p);
  for (uint32_t i = 1; i < n; ++i) {
    p += EntrySize;
    uint32_t lowCount;
    if (FDecoding) {
      sum += Freq(p);
      if (sum <= count) continue;
      lowCount = sum - Freq(p);
    } else {
      if (Symbol(p) != s) {
        sum += Freq(p);
        continue;
      }
      lowCount = sum;
    }
    const uint32_t highCount = lowCount + Freq(p);
    CodeInterval(lowCount, highCount, scale);
    FFoundEntry = p;
    SetFreq(p, Freq(p) + 4);
    SetTotalFreq(c, TotalFreq(c) + 4);
    if (Freq(p) > Freq(p - EntrySize)) {
      uint8_t tmp[EntrySize];
      std::memcpy(tmp, &FBase[p], EntrySize);
      CopyEntry(p, p - EntrySize);
      std::memcpy(&FBase[p - EntrySize], tmp, EntrySize);
      FFoundEntry = p - EntrySize;
      if (Freq(FFoundEntry) > 124) HalveFreqs(c);
    }
    return;
  }
  // Escape: every symbol of the context is masked.
  CodeInterval(sum, scale, scale);
  for (uint32_t i = 0; i < n; ++i) FSymbolMask[Symbol(st + EntrySize * i)] = FMaskStamp;
  FMaskedCount = static_cast<int>(n);
  FFoundEntry = 0;
}

// A shorter context after escapes: the masked symbols are left out and the
// escape share comes from the escape statistics.
void TPPMModel::CodeInMasked(Ref c, int s) {
  const int n = EntryCount(c);
  const int d = n - FMaskedCount;
  const Ref st = Stats(c);
  if (d < 1) Fail("more symbols masked than the context holds");
  TEscapeStat* t = nullptr;
  uint32_t scale;
  if (n != 256) {
    const Ref shorter = Context(Shorter(c));
    const int j = (d < static_cast<int>(EntryCount(shorter)) - n ? 1 : 0) +
                  (TotalFreq(c) < 11 * n ? 2 : 0) + (FMaskedCount > d ? 4 : 0);
    t = &FEscapeStats[EscapeRowOf[d - 1]][j];
    const uint32_t v = static_cast<uint32_t>(t->Summ >> t->Shift);
    t->Summ = static_cast<uint16_t>(t->Summ - v);
    scale = v & 1023;
    if (scale == 0) scale = 1;
  } else {
    scale = 1;
  }

  // The d unmasked entries in stored order.
  Ref taken[256];
  int count = 0;
  uint32_t sum = 0;
  Ref found = 0;
  uint32_t lowCount = 0;
  uint32_t highCount = 0;
  for (int i = 0; count < d; ++i) {
    if (i >= n) Fail("masks out of step with the context");
    const Ref e = st + EntrySize * static_cast<Ref>(i);
    if (FSymbolMask[Symbol(e)] == FMaskStamp) continue;
    taken[count++] = e;
    sum += Freq(e);
    if (!FDecoding && found == 0) {
      if (Symbol(e) == s) {
        found = e;
        highCount = sum;
        lowCount = highCount - Freq(e);
      } else {
        FSymbolMask[Symbol(e)] = FMaskStamp;
      }
    }
  }
  scale += sum;
  if (FDecoding) {
    const uint32_t target = GetCount(scale);
    if (target < sum) {
      uint32_t run = 0;
      for (int i = 0; i < count; ++i) {
        run += Freq(taken[i]);
        if (run > target) {
          found = taken[i];
          highCount = run;
          lowCount = run - Freq(taken[i]);
          break;
        }
      }
    }
  }

  if (found != 0) {
    if (t != nullptr && t->Shift < 7) {
      if (--t->Countdown == 0) {
        t->Summ = static_cast<uint16_t>(t->Summ * 2);
        t->Countdown = static_cast<uint8_t>(3 << t->Shift);
        ++t->Shift;
      }
    }
    FFoundEntry = found;
    SetFreq(found, Freq(found) + 4);
    SetTotalFreq(c, TotalFreq(c) + 4);
    CodeInterval(lowCount, highCount, scale);
    if (Freq(found) > 124) HalveFreqs(c);
    ++FMaskStamp;
    return;
  }
  lowCount = sum;
  highCount = scale;
  for (int i = 0; i < count; ++i) FSymbolMask[Symbol(taken[i])] = FMaskStamp;
  if (t != nullptr) t->Summ = static_cast<uint16_t>(t->Summ + scale);
  FMaskedCount = n;
  CodeInterval(lowCount, highCount, scale);
}

// Rescaling: halve the frequencies, keep the entries sorted, drop those that
// reach 0 (FoundEntry lies in c).
void TPPMModel::HalveFreqs(Ref c) {
  // 1. FoundEntry to the first place.
  const int n0 = EntryCount(c);
  Ref st = Stats(c);
  if (FFoundEntry < st || FFoundEntry >= st + EntrySize * static_cast<Ref>(n0)) {
    Fail("found entry outside its context");
  }
  {
    uint8_t tmp[EntrySize];
    std::memcpy(tmp, &FBase[FFoundEntry], EntrySize);
    std::memmove(&FBase[st + EntrySize], &FBase[st], FFoundEntry - st);
    std::memcpy(&FBase[st], tmp, EntrySize);
  }
  // 2.
  SetFreq(st, Freq(st) + 4);
  SetTotalFreq(c, TotalFreq(c) + 4);
  uint32_t esc = static_cast<uint32_t>(TotalFreq(c)) - Freq(st);
  const uint32_t a = FOrderDrop != 0 ? 1 : 0;
  // 3.
  SetFreq(st, (Freq(st) + a) >> 1);
  SetTotalFreq(c, Freq(st));
  // 4.
  for (int i = 1; i < n0; ++i) {
    const Ref e = st + EntrySize * static_cast<Ref>(i);
    esc -= Freq(e);
    const uint32_t f = (Freq(e) + a) >> 1;
    SetFreq(e, f);
    SetTotalFreq(c, TotalFreq(c) + f);
    if (f > Freq(e - EntrySize)) {
      uint8_t tmp[EntrySize];
      std::memcpy(tmp, &FBase[e], EntrySize);
      int j = i;
      while (j > 0 && Freq(st + EntrySize * static_cast<Ref>(j - 1)) < f) {
        CopyEntry(st + EntrySize * static_cast<Ref>(j), st + EntrySize * static_cast<Ref>(j - 1));
        --j;
      }
      std::memcpy(&FBase[st + EntrySize * static_cast<Ref>(j)], tmp, EntrySize);
    }
  }
  // 5. Drop the entries that reached 0.
  if (Freq(st + EntrySize * static_cast<Ref>(n0 - 1)) == 0) {
    int z = 0;
    while (z < n0 && Freq(st + EntrySize * static_cast<Ref>(n0 - 1 - z)) == 0) ++z;
    esc += static_cast<uint32_t>(z);
    const int left = n0 - z;
    SetEntryCount(c, static_cast<unsigned>(left));
    if (left == 1) {
      uint8_t tmp[EntrySize];
      std::memcpy(tmp, &FBase[st], EntrySize);
      do {
        tmp[1] = static_cast<uint8_t>(tmp[1] - (tmp[1] >> 1));
        esc >>= 1;
      } while (esc > 1);
      ReleaseBlock(st, (n0 + 1) / 2);
      std::memcpy(&FBase[SoleEntry(c)], tmp, EntrySize);
      FFoundEntry = SoleEntry(c);
      return;
    }
    if (left < 1) Fail("rescaling emptied a context");
  }
  // 6.
  SetTotalFreq(c, TotalFreq(c) + esc - (esc >> 1));
  const int left = EntryCount(c);
  if ((n0 + 1) / 2 != (left + 1) / 2) {
    SetEntries(c, ShrinkBlock(st, (n0 + 1) / 2, (left + 1) / 2));
  }
  FFoundEntry = Entries(c);
}

// ---------------------------------------------------------------------------
// Learning: add the symbol to the contexts escaped from, grow the text and
// move to the next position.

void TPPMModel::LearnSymbol() {
  const Ref c = FCurrentContext;
  // 1.
  const uint8_t fSymbol = Symbol(FFoundEntry);
  const uint32_t fFreq = Freq(FFoundEntry);
  const Ref fNext = Next(FFoundEntry);
  Ref p = 0;
  bool top = false;

  // 2. The symbol gains in the context one order shorter.
  if (fFreq < 31 && Shorter(c) != 0) {
    const Ref d = Context(Shorter(c));
    const uint32_t dn = EntryCount(d);
    if (dn >= 2) {
      const Ref st = Stats(d);
      p = FindEntry(d, fSymbol);
      if (p != st && Freq(p) >= Freq(p - EntrySize)) {
        uint8_t tmp[EntrySize];
        std::memcpy(tmp, &FBase[p], EntrySize);
        CopyEntry(p, p - EntrySize);
        std::memcpy(&FBase[p - EntrySize], tmp, EntrySize);
        p -= EntrySize;
      }
      if (Freq(p) < 108) {
        SetFreq(p, Freq(p) + 2);
        SetTotalFreq(d, TotalFreq(d) + 2);
      }
    } else if (dn == 1) {
      p = SoleEntry(d);
      if (Freq(p) < 32) SetFreq(p, Freq(p) + 1);
    } else {
      Fail("placeholder used as a context");
    }
  }

  // 3. At the top order.
  if (FOrderDrop == 0) {
    if (!BuildSuccessors(2, 0)) return Restart();
    FCurrentContext = FTopContext = Context(fNext);
    return;
  }

  // 4. The successor: the known one when the next position reaches the top
  // order, else a new placeholder. A symbol that has no successor yet (only
  // in the order-0 context, which at order 1 lies just below the top) gets
  // a placeholder too, as it does at every other order.
  --FOrderDrop;
  Ref s;
  if (FOrderDrop == 0 && fNext != 0) {
    s = fNext;
    top = true;
  } else {
    s = TakeContext();
    if (s == 0) return Restart();
    SetEntryCount(s, 0);
  }

  // 5. The text remembers the symbol.
  if (EntryCount(Context(FTextTail)) == 0) {
    SetSymbol(SoleEntry(FTextTail), fSymbol);
    SetNext(SoleEntry(FTextTail), s);
  }

  // 6. Unsigned 32-bit arithmetic with wrap-around from here.
  const uint32_t ns = EntryCount(c);
  const uint32_t s0 = static_cast<uint32_t>(TotalFreq(c)) - ns - (fFreq - 1);

  // 7. Add the symbol to every context escaped from.
  for (Ref x = Context(FTopContext); x != c; x = Context(Shorter(x))) {
    const uint32_t n = EntryCount(x);
    if (n != 1) {
      if (n < 2 || n >= 256) Fail("invalid context while learning");
      Stats(x);
      if ((n & 1) == 0) {
        const Ref grown = GrowBlock(Entries(x), static_cast<int>(n / 2));
        if (grown == 0) return Restart();
        SetEntries(x, grown);
      }
      const uint32_t tf = TotalFreq(x);
      SetTotalFreq(x, tf + (2 * n < ns ? 1 : 0) + 2 * ((4 * n <= ns && tf <= 8 * n) ? 1 : 0));
    } else {
      const Ref q = TakeUnits(1);
      if (q == 0) return Restart();
      CopyEntry(q, SoleEntry(x));
      SetEntries(x, q);
      const uint32_t f = Freq(q) < 30 ? 2u * Freq(q) : 120u;
      SetFreq(q, f);
      SetTotalFreq(x, f + FBinEscapeInit + (ns > 3 ? 1 : 0));
    }
    const uint32_t tf = TotalFreq(x);
    uint32_t cf = 2 * fFreq * (tf + 6);
    const uint32_t sf = s0 + tf;
    if (cf < 6 * sf) {
      cf = 1 + (cf > sf ? 1 : 0) + (cf >= 4 * sf ? 1 : 0);
      SetTotalFreq(x, tf + 3);
    } else {
      cf = 4 + (cf >= 9 * sf ? 1 : 0) + (cf >= 12 * sf ? 1 : 0) + (cf >= 15 * sf ? 1 : 0);
      SetTotalFreq(x, tf + cf);
    }
    const Ref e = Entries(x) + EntrySize * n;
    if (e > FMemEnd - EntrySize) Fail("invalid entry array");
    SetSymbol(e, fSymbol);
    SetFreq(e, cf);
    SetNext(e, s);
    SetEntryCount(x, n + 1);
  }

  // 8. Move on to the successor, creating it from the text when needed.
  if (fNext != 0) {
    if (EntryCount(Context(fNext)) == 0 && !BuildSuccessors(top ? 1 : 0, p)) return Restart();
    FCurrentContext = Context(Next(FFoundEntry));
  } else {
    SetNext(FFoundEntry, s);
    ++FOrderDrop;
  }
  // 9.
  FTopContext = FCurrentContext;
  FTextTail = s;
}

// The model memory is used up while learning: start afresh. The masks are
// cleared right after (MaskStamp 0).
void TPPMModel::Restart() {
  ++FRestarts;
  ResetModel();
  FMaskStamp = 0;
}

// Turns the placeholder after FoundEntry into contexts: one new context for
// each order between the longest existing successor and the current one.
// mode 0: FoundEntry's own successor too; mode 1: from the next shorter
// context on; mode 2: at the top order, skipping one more order. False when
// no context can be taken.
bool TPPMModel::BuildSuccessors(int mode, Ref from) {
  // 1.
  const Ref up = Next(FFoundEntry);
  if (EntryCount(Context(up)) != 0) Fail("successor is not a placeholder");
  const uint8_t symbol = Symbol(FFoundEntry);
  Ref x = FCurrentContext;
  Ref list[17];
  int count = 0;
  const int capacity = FMaxOrder + 1;
  auto append = [&](Ref entry) {
    if (count >= capacity) Fail("too many new contexts");
    list[count++] = entry;
  };

  // 2. - 4.
  bool walk = true;
  if (mode == 0) {
    append(FFoundEntry);
    if (Shorter(x) == 0) walk = false;
  } else if (mode == 2) {
    x = Context(Shorter(x));
  }
  if (walk) {
    Ref e = 0;
    bool haveEntry = false;
    if (from != 0) {
      e = from;
      x = Context(Shorter(x));
      haveEntry = true;
    }
    for (;;) {
      if (!haveEntry) {
        // At order 1 the walk may start at the order-0 context: there is no
        // shorter one to look at, and it is the context the new ones hang on.
        if (Shorter(x) == 0) break;
        x = Context(Shorter(x));
        e = FindEntry(x, symbol);
      }
      haveEntry = false;
      if (Next(e) != up) {
        x = Context(Next(e));
        if (EntryCount(x) == 0) Fail("successor chain reaches a placeholder");
        break;
      }
      append(e);
      if (Shorter(x) == 0) break;
    }
  }

  // 5. The frequency the new contexts start with.
  const Ref u = SoleEntry(up);
  if (EntryCount(x) >= 2) {
    const Ref e = FindEntry(x, Symbol(u));
    const uint32_t cf = static_cast<uint32_t>(Freq(e)) - 1;
    const uint32_t s = static_cast<uint32_t>(TotalFreq(x)) - EntryCount(x) - cf;
    uint32_t add;
    if (2 * cf <= s) {
      add = 5 * cf > s ? 1 : 0;
    } else {
      if (2 * s == 0) Fail("invalid context totals");
      add = (2 * cf + 3 * s - 1) / (2 * s);
    }
    SetFreq(u, 1 + add);
  } else {
    SetFreq(u, Freq(SoleEntry(x)));
  }

  // 6.
  for (int i = count - 1; i >= 0; --i) {
    const Ref y = TakeContext();
    if (y == 0) return false;
    SetNext(list[i], y);
    SetEntryCount(y, 1);
    SetShorter(y, x);
    CopyEntry(SoleEntry(y), u);
    x = y;
  }
  // 7.
  if (FOrderDrop == 0) {
    SetEntryCount(up, 1);
    SetShorter(up, x);
  }
  return true;
}

}  // namespace zk
